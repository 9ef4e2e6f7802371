#pragma once

namespace vb {

// FitLargePictures: a picture of `width` x `height` larger than the room in either direction
// shrinks, in place, to fit inside it, keeping its aspect ratio; the side that limits becomes
// exactly as long as the room's. True when it shrank; a picture that fits, and an empty picture
// or room, keep their size. All lengths in twips.
bool ShrinkToFit(float& width, float& height, float roomWidth, float roomHeight);

} // namespace vb
