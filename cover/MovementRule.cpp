#include "cover/MovementRule.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vb {

namespace {

// To the nearest whole twip, an exact half to the even neighbour, as the runtime's conversion
// to an integer rounds.
qint32 ToWholeTwips(float value)
{
    constexpr double low = std::numeric_limits<qint32>::min();
    constexpr double high = std::numeric_limits<qint32>::max();
    return qint32(std::clamp(std::nearbyint(double(value)), low, high));
}

} // namespace

bool MovementRule::Report(float X, float Y)
{
    if (!std::isfinite(X) || !std::isfinite(Y))
        return false;
    const float dX = std::fabs(float(LastMouseX) - X);
    const float dY = std::fabs(float(LastMouseY) - Y);
    if (dX >= Threshold || dY >= Threshold) {
        const bool firstReport = LastMouseX == 0 && LastMouseY == 0;
        if (!firstReport)
            return true;
    }
    LastMouseX = ToWholeTwips(X);
    LastMouseY = ToWholeTwips(Y);
    return false;
}

} // namespace vb
