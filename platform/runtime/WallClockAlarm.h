#pragma once

#include "platform/runtime/Clock.h"

#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <optional>

namespace vb {

// Rings on the event loop's thread when the system clock reaches a time, and at once when the
// clock is set. The event loop's timers wait on the monotonic clock, which stands still while the
// machine sleeps: a timer planned for a picture change an interval away would, after a suspend,
// still wait out what was left of it. The system clock goes on while the machine sleeps, so the
// alarm rings on waking when its time has passed meanwhile. Where the kernel cannot make it
// (no timerfd), it never rings and the timers alone keep time.
class WallClockAlarm
{
public:
    explicit WallClockAlarm(std::function<void()> rang);
    ~WallClockAlarm();
    WallClockAlarm(const WallClockAlarm&) = delete;
    WallClockAlarm& operator=(const WallClockAlarm&) = delete;

    // Replaces the time set before. Setting the time already set, or cancelling an alarm that is
    // not set, costs nothing: the tick plans again after each run.
    void Set(DateTime when);
    void Cancel();

private:
    void Disarm();
    void Ring();

    int m_fd = -1;
    std::optional<DateTime> m_setFor;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::function<void()> m_rang;
};

} // namespace vb
