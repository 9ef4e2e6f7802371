#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>

namespace vbtest {

// What the test's X server shows, and input sent to it, for tests of the real program.

// A screenshot of a window ("root" for the screen) of DISPLAY, or of `display`.
QImage Screenshot(const QString& window = "root", const QString& display = QString());

bool Xdotool(const QStringList& arguments);

// The pixel at `p` is near `colour`; false outside the image.
bool NearAt(const QImage& image, QPoint p, QRgb colour);

// The quadrant picture drawn into `rect` of `image`, with black just outside it.
bool ShowsQuadrants(const QImage& image, const QRect& rect);

} // namespace vbtest
