#pragma once

#include "picture/PictureLoader.h"

#include <QSizeF>
#include <QString>
#include <functional>

namespace vb {

class Canvas;
class PictureHolder;

// Loads the picture at `path` into `picture` and places it on `canvas`, which is already clear:
// full screen at its own size and centred (cut off at the edges when larger, unless `fit` shrinks
// it to fit); in a preview (`preview`) reduced by the ratio of the canvas to the screen that
// `screenSize` gives in twips, and centred. Throws RuntimeError when it cannot be shown.
void PaintPicture(Canvas& canvas, PictureHolder& picture, const QString& path, bool preview, bool fit,
                  const std::function<QSizeF()>& screenSize);

// Draws a request's picture onto a black image of its canvas's size, as a change places it;
// safe on any thread. The image is null when the picture cannot be shown.
Frame RenderFrame(FrameRequest request);

} // namespace vb
