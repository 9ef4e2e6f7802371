#include "platform/runtime/MainThreadPost.h"

#include <QCoreApplication>
#include <QEvent>
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

// Takes the posted events on the application's thread. It looks at nothing of the event and
// takes the lock before anything else, so that every byte the posting thread wrote, the event's
// own included, is handed over under the lock. A functor posted with invokeMethod would not be:
// Qt's inline code reads it back before any lock of ours is taken.
class PostedWorkReceiver final : public QObject
{
protected:
    void customEvent(QEvent*) override { RunOnePosted(); }
};

QObject* s_receiver = nullptr; // under s_mutex; kept to the end, as posts may come until then

} // namespace

void PostToMainThread(std::function<void()> work)
{
    QCoreApplication* const app = QCoreApplication::instance();
    if (!app)
        return;
    static const auto eventType = static_cast<QEvent::Type>(QEvent::registerEventType());
    const std::lock_guard lock(s_mutex);
    s_posted.push_back(std::move(work));
    if (!s_receiver) {
        s_receiver = new PostedWorkReceiver;
        s_receiver->moveToThread(app->thread());
    }
    QCoreApplication::postEvent(s_receiver, new QEvent(eventType));
}

} // namespace vb
