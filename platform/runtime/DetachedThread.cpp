#include "platform/runtime/DetachedThread.h"

#include <atomic>
#include <cstdio>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace vb {

namespace {
std::atomic<int> s_running{0};
constexpr int BackgroundNice = 10;
constexpr int IdleNice = 19;
} // namespace

void StartDetachedThread(std::function<void()> work)
{
    ++s_running;
    try {
        std::thread([work = std::move(work)] {
            // Below the window thread, so that input is handled at once however busy this is.
            setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), BackgroundNice);
            work();
            --s_running;
        }).detach();
    } catch (...) {
        --s_running;
        throw;
    }
}

void LowerThisThreadPriority()
{
    setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), IdleNice);
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
