#include "platform/DetachedThread.h"

#include <atomic>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace vb {

namespace {
std::atomic<int> s_running{0};
} // namespace

void StartDetachedThread(std::function<void()> work)
{
    ++s_running;
    try {
        std::thread([work = std::move(work)] {
            work();
            --s_running;
        }).detach();
    } catch (...) {
        --s_running;
        throw;
    }
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
