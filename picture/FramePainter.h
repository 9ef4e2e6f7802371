#pragma once

#include "picture/PictureLoader.h"

namespace vb {

// Draws a request's picture onto a black image of its canvas's size, as a change places it: full
// screen at its own size and centred (cut off at the edges when larger, unless FitLargePictures
// shrinks it to fit); in a preview reduced by the ratio of the canvas to the screen, and
// centred. Safe on any thread. The image is null when the picture cannot be shown. `makeImage`:
// as for ImageCanvas::Resize.
Frame RenderFrame(FrameRequest request, const ImageCanvas::ImageMaker& makeImage = {});

} // namespace vb
