#include "platform/runtime/Clock.h"

namespace vb {

DateTime DateAddSeconds(DateTime t, qint64 seconds)
{
    return t + std::chrono::seconds(seconds);
}

DateTime SystemClock::Now() const
{
    return std::chrono::system_clock::now();
}

} // namespace vb
