#include "platform/runtime/DetachedThread.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace vb {

namespace {
std::atomic<int> s_running{0};
// How far below the thread that starts it a detached thread runs, and the lowest priority there is.
constexpr int BackgroundNiceStep = 10;
constexpr int LowestNice = 19;
} // namespace

void StartDetachedThread(std::function<void()> work, DetachedPriority priority)
{
    ++s_running;
    try {
        std::thread([work = std::move(work), priority]() mutable {
            // Below the window thread, so that input is handled at once however busy this is: ten
            // steps below the nice the thread was started with (Linux keeps it per thread and a new
            // thread inherits it), so that a saver started with `nice` stays below its windows.
            // Who 0 is the calling thread, the only one a locked-down helper may change.
            errno = 0;
            const int nice = getpriority(PRIO_PROCESS, 0);
            if (errno == 0 && priority == DetachedPriority::Background)
                setpriority(PRIO_PROCESS, 0, std::min(nice + BackgroundNiceStep, LowestNice));
            // And scheduled as batch work: a thread that wakes (the window thread on a key) takes
            // the CPU from it at once rather than after its slice; its share stays that of its nice.
            const sched_param none{};
            sched_setscheduler(0, SCHED_BATCH, &none);
            {
                // The work and everything it captured is gone before the count drops: main may end
                // the process the moment it reads zero.
                std::function<void()> owned;
                owned.swap(work);
                owned();
            }
            --s_running;
        }).detach();
    } catch (...) {
        --s_running;
        throw;
    }
}

void LowerThisThreadPriority()
{
    setpriority(PRIO_PROCESS, 0, LowestNice);
}

int DetachedThreadsRunning()
{
    return s_running.load();
}

void EndProcessNow(int status)
{
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
}

} // namespace vb
