#include "platform/runtime/MainThreadPost.h"

#include <QCoreApplication>
#include <deque>
#include <mutex>

namespace vb {

namespace {

std::mutex s_mutex;
std::deque<std::function<void()>> s_posted;

// One posted call runs one piece of work, in the order they were posted.
void RunOnePosted()
{
    std::function<void()> work;
    {
        const std::lock_guard lock(s_mutex);
        if (s_posted.empty())
            return;
        work = std::move(s_posted.front());
        s_posted.pop_front();
    }
    work();
}

} // namespace

void PostToMainThread(std::function<void()> work)
{
    QCoreApplication* const app = QCoreApplication::instance();
    if (!app)
        return;
    {
        const std::lock_guard lock(s_mutex);
        s_posted.push_back(std::move(work));
    }
    QMetaObject::invokeMethod(app, &RunOnePosted, Qt::QueuedConnection);
}

} // namespace vb
