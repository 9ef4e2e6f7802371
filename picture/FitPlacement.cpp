#include "picture/FitPlacement.h"

namespace vb {

bool ShrinkToFit(float& width, float& height, float roomWidth, float roomHeight)
{
    if (!(width > 0 && height > 0 && roomWidth > 0 && roomHeight > 0))
        return false;
    if (width <= roomWidth && height <= roomHeight)
        return false;
    // The side that limits takes the room's length itself rather than a product that may miss it
    // by a rounding error and leave a one-pixel seam.
    const double byWidth = double(roomWidth) / width;
    const double byHeight = double(roomHeight) / height;
    if (byWidth <= byHeight) {
        height = float(height * byWidth);
        width = roomWidth;
    } else {
        width = float(width * byHeight);
        height = roomHeight;
    }
    return true;
}

} // namespace vb
