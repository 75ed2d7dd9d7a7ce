#include "platform/Threads.h"

#include <pthread.h>
#include <sched.h>

#include <initializer_list>

namespace sigrun::platform {

int UsableProcessors()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    const int count = CPU_COUNT(&set);
    return count > 0 ? count : 1;
}

int CurrentProcessor()
{
    return sched_getcpu();
}

ProcessorAvoided::ProcessorAvoided(int processor)
{
    CPU_ZERO(&saved);
    if (processor < 0 || processor >= CPU_SETSIZE ||
        sched_getaffinity(0, sizeof saved, &saved) != 0 || !CPU_ISSET(processor, &saved) ||
        CPU_COUNT(&saved) < 2)
        return;
    cpu_set_t elsewhere = saved;
    CPU_CLR(processor, &elsewhere);
    avoiding = sched_setaffinity(0, sizeof elsewhere, &elsewhere) == 0;
}

ProcessorAvoided::~ProcessorAvoided()
{
    Release();
}

void ProcessorAvoided::Release()
{
    if (avoiding)
        sched_setaffinity(0, sizeof saved, &saved);
    avoiding = false;
}

StopSignalsHeld::StopSignalsHeld()
{
    sigset_t held;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, &saved);
}

StopSignalsHeld::~StopSignalsHeld()
{
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

} // namespace sigrun::platform
