#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>

namespace vbtest {

// Picture files for the slideshow's tests, made on the spot.

// An image of one colour.
QImage Solid(QSize size, const QColor& colour);

// Four quadrants: red top-left, green top-right, blue bottom-left, yellow bottom-right.
QImage Quadrants(QSize size);

// The same in four shades of grey: with no colour in it, a JPEG's halved colour resolution cannot
// blur the edges, so a part decoded alone matches the whole decoded picture.
QImage GreyQuadrants(QSize size);

// White and grey pixels in turn, like a checkerboard of one-pixel squares: resampled, it blurs.
QImage Checkerboard(QSize size);

// Saves in the format given ("bmp", "jpg", "png"; "gif" through ImageMagick; "grey.jpg" a
// JPEG of one component); creates the folder.
bool SavePicture(const QString& path, const QImage& image, const char* format, int quality = 95);

// A JPEG with an EXIF block that stores `orientation` (1 to 8) as a camera does.
QByteArray JpegWithOrientation(const QImage& image, int orientation);

// A valid GIF whose canvas is `canvas` while its one frame is a single red pixel: small on disk,
// large once decoded.
QByteArray GifWithCanvas(QSize canvas);

// Colours within `tolerance` on each channel.
bool Near(QRgb a, QRgb b, int tolerance);

} // namespace vbtest
