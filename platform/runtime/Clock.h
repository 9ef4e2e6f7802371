#pragma once

#include <QtGlobal>
#include <chrono>

namespace vb {

// The program's date-time. The system clock, not local time, so that a daylight-saving change
// neither pauses nor rushes the show. The default value (the clock's epoch) lies before any real
// current time.
using DateTime = std::chrono::system_clock::time_point;

// `DateAdd("s", seconds, t)`.
DateTime DateAddSeconds(DateTime t, qint64 seconds);

class Clock
{
public:
    virtual ~Clock() = default;
    // `Now`.
    virtual DateTime Now() const = 0;
    // Whether the clock runs on by itself with the time the event loop's timers wait on, so that
    // a timer can sleep until a time it names. A clock that stands still until told cannot.
    virtual bool RunsWithTimers() const { return false; }
};

class SystemClock final : public Clock
{
public:
    DateTime Now() const override;
    bool RunsWithTimers() const override { return true; }
};

} // namespace vb
