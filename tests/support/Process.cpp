#include "support/Process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace sigtest {

namespace {

double Now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

} // namespace

RunningProcess::RunningProcess(const std::string& program, const std::vector<std::string>& args,
                               const std::string& in, const ProcessOptions& options)
    : input(in), deadline(Now() + options.timeoutSeconds)
{
    int inPipe[2];
    int outPipe[2];
    int errPipe[2];
    // Closed on exec: a program started later does not hold this one's pipes open.
    if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 ||
        pipe2(errPipe, O_CLOEXEC) != 0)
        return;
    pid = fork();
    if (pid == 0)
    {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            close(fd);
        if (options.fileSizeLimit >= 0)
        {
            rlimit limit{static_cast<rlim_t>(options.fileSizeLimit),
                         static_cast<rlim_t>(options.fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.ignoreFileSizeSignal)
            signal(SIGXFSZ, SIG_IGN);
        if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0)
            _exit(126);
        if (options.runAsUser >= 0 && (setgid(static_cast<gid_t>(options.runAsUser)) != 0 ||
                                       setuid(static_cast<uid_t>(options.runAsUser)) != 0))
            _exit(125);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    inFd = inPipe[1];
    outFd = outPipe[0];
    errFd = errPipe[0];
    signal(SIGPIPE, SIG_IGN);
    fcntl(inFd, F_SETFL, O_NONBLOCK);
    // Answers for a dialogue are there before the test waits for anything else.
    const ssize_t put = write(inFd, input.data(), input.size());
    if (put > 0)
        written = static_cast<std::size_t>(put);
}

RunningProcess::~RunningProcess()
{
    if (pid > 0)
    {
        kill(pid, SIGKILL);
        Wait();
    }
}

void RunningProcess::Signal(int signal) const
{
    if (pid > 0)
        kill(pid, signal);
}

ProcessResult RunningProcess::Wait()
{
    ProcessResult result;
    if (pid <= 0)
        return result;
    bool inOpen = true;
    if (written == input.size())
    {
        close(inFd);
        inOpen = false;
    }
    bool outOpen = true;
    bool errOpen = true;
    char buffer[65536];
    while (outOpen || errOpen)
    {
        const double left = deadline - Now();
        if (left <= 0)
        {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd fds[3];
        int n = 0;
        int outIndex = -1, errIndex = -1, inIndex = -1;
        if (outOpen)
        {
            fds[n] = {outFd, POLLIN, 0};
            outIndex = n++;
        }
        if (errOpen)
        {
            fds[n] = {errFd, POLLIN, 0};
            errIndex = n++;
        }
        if (inOpen)
        {
            fds[n] = {inFd, POLLOUT, 0};
            inIndex = n++;
        }
        const int ready = poll(fds, static_cast<nfds_t>(n), static_cast<int>(left * 1000) + 1);
        if (ready < 0 && errno != EINTR)
            break;
        if (outIndex >= 0 && (fds[outIndex].revents & (POLLIN | POLLHUP)))
        {
            const ssize_t got = read(outFd, buffer, sizeof buffer);
            if (got <= 0)
                outOpen = false;
            else
                result.out.append(buffer, static_cast<std::size_t>(got));
        }
        if (errIndex >= 0 && (fds[errIndex].revents & (POLLIN | POLLHUP)))
        {
            const ssize_t got = read(errFd, buffer, sizeof buffer);
            if (got <= 0)
                errOpen = false;
            else
                result.err.append(buffer, static_cast<std::size_t>(got));
        }
        if (inIndex >= 0 && (fds[inIndex].revents & (POLLOUT | POLLERR | POLLHUP)))
        {
            const ssize_t put = write(inFd, input.data() + written, input.size() - written);
            if (put > 0)
                written += static_cast<std::size_t>(put);
            if (put < 0 || written == input.size())
            {
                close(inFd);
                inOpen = false;
            }
        }
    }
    if (inOpen)
        close(inFd);
    close(outFd);
    close(errFd);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    pid = -1;
    result.maxRssKb = usage.ru_maxrss;
    if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    return result;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input, const ProcessOptions& options)
{
    RunningProcess process(program, args, input, options);
    return process.Wait();
}

ProcessResult RunSigrun(const std::vector<std::string>& args, const std::string& input,
                        const ProcessOptions& options)
{
    return RunProcess(SIGRUN_PATH, args, input, options);
}

std::unique_ptr<RunningProcess> StartSigrun(const std::vector<std::string>& args,
                                            const std::string& input, const ProcessOptions& options)
{
    return std::make_unique<RunningProcess>(SIGRUN_PATH, args, input, options);
}

} // namespace sigtest
