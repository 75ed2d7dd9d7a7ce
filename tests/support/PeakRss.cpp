// sigkit_peak_rss PROGRAM [ARG]...: runs the program and prints its peak resident memory in kB
// on stdout as "peak-rss-kb N", exiting with its status. A process's peak counts the memory of
// the process it was forked from, up to its exec; run from this small program, the peak is the
// program's own, whatever the size of the test that starts it.
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 125;
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0)
    {
        execv(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return 126;
    std::printf("peak-rss-kb %ld\n", usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
