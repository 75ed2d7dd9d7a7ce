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

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input, const ProcessOptions& options)
{
    ProcessResult result;
    int inPipe[2];
    int outPipe[2];
    int errPipe[2];
    if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0)
        return result;
    const pid_t pid = fork();
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
        if (options.runAsUser >= 0 &&
            (setgid(static_cast<gid_t>(options.runAsUser)) != 0 ||
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
    signal(SIGPIPE, SIG_IGN);
    fcntl(inPipe[1], F_SETFL, O_NONBLOCK);

    std::size_t written = 0;
    bool inOpen = true;
    if (input.empty())
    {
        close(inPipe[1]);
        inOpen = false;
    }
    bool outOpen = true;
    bool errOpen = true;
    const double deadline = Now() + options.timeoutSeconds;
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
            fds[n] = {outPipe[0], POLLIN, 0};
            outIndex = n++;
        }
        if (errOpen)
        {
            fds[n] = {errPipe[0], POLLIN, 0};
            errIndex = n++;
        }
        if (inOpen)
        {
            fds[n] = {inPipe[1], POLLOUT, 0};
            inIndex = n++;
        }
        const int ready = poll(fds, static_cast<nfds_t>(n), static_cast<int>(left * 1000) + 1);
        if (ready < 0 && errno != EINTR)
            break;
        if (outIndex >= 0 && (fds[outIndex].revents & (POLLIN | POLLHUP)))
        {
            const ssize_t got = read(outPipe[0], buffer, sizeof buffer);
            if (got <= 0)
                outOpen = false;
            else
                result.out.append(buffer, static_cast<std::size_t>(got));
        }
        if (errIndex >= 0 && (fds[errIndex].revents & (POLLIN | POLLHUP)))
        {
            const ssize_t got = read(errPipe[0], buffer, sizeof buffer);
            if (got <= 0)
                errOpen = false;
            else
                result.err.append(buffer, static_cast<std::size_t>(got));
        }
        if (inIndex >= 0 && (fds[inIndex].revents & (POLLOUT | POLLERR | POLLHUP)))
        {
            const ssize_t put = write(inPipe[1], input.data() + written, input.size() - written);
            if (put > 0)
                written += static_cast<std::size_t>(put);
            if (put < 0 || written == input.size())
            {
                close(inPipe[1]);
                inOpen = false;
            }
        }
    }
    if (inOpen)
        close(inPipe[1]);
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    result.maxRssKb = usage.ru_maxrss;
    if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    return result;
}

ProcessResult RunSigrun(const std::vector<std::string>& args, const std::string& input,
                        const ProcessOptions& options)
{
    return RunProcess(SIGRUN_PATH, args, input, options);
}

} // namespace sigtest
