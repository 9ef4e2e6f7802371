#include "platform/runtime/WallClockAlarm.h"

#include <cerrno>
#include <sys/timerfd.h>
#include <unistd.h>

namespace vb {

WallClockAlarm::WallClockAlarm(std::function<void()> rang) : m_rang(std::move(rang))
{
    m_fd = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd < 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { Ring(); });
}

WallClockAlarm::~WallClockAlarm()
{
    m_notifier.reset();
    if (m_fd >= 0)
        close(m_fd);
}

void WallClockAlarm::Set(DateTime when)
{
    if (m_fd < 0 || m_setFor == when)
        return;
    m_setFor = when;
    using namespace std::chrono;
    const auto since = duration_cast<nanoseconds>(when.time_since_epoch()).count();
    itimerspec at{};
    // Zero would disarm it: a time at or before the epoch rings a nanosecond after it.
    at.it_value.tv_sec = since > 0 ? since / 1'000'000'000 : 0;
    at.it_value.tv_nsec = since > 0 ? since % 1'000'000'000 : 1;
    // Cancelled, and so ringing, when the clock is set, so that the caller can plan again.
    timerfd_settime(m_fd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &at, nullptr);
}

void WallClockAlarm::Cancel()
{
    if (m_setFor)
        Disarm();
}

void WallClockAlarm::Disarm()
{
    m_setFor.reset();
    if (m_fd < 0)
        return;
    const itimerspec never{};
    timerfd_settime(m_fd, 0, &never, nullptr);
}

void WallClockAlarm::Ring()
{
    // Expired, or ECANCELED: the clock was set. A timer cancelled so stays readable until it is
    // set again, so it is disarmed here whatever the caller does next.
    quint64 expirations = 0;
    if (read(m_fd, &expirations, sizeof expirations) < 0 && errno == EAGAIN)
        return;
    Disarm();
    if (m_rang)
        m_rang();
}

} // namespace vb
