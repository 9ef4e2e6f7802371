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

// Saves in the format given ("bmp", "jpg", "png", "tiff", "webp" (lossless); "gif" through
// ImageMagick; "grey.jpg" a JPEG of one component; "heic" and "avif" as SaveHeif does); creates
// the folder.
bool SavePicture(const QString& path, const QImage& image, const char* format, int quality = 95);

// HEIC (or AVIF) through libheif's encoders, with an alpha channel when the image has one:
// `bits` 8 or 10; `orientation` (1 to 8, as EXIF counts) is written as the file's own rotation
// and mirror ('irot', 'imir'), so the stored picture is `image` and the upright one turned.
struct HeifOptions
{
    bool avif = false;
    int bits = 8;
    int orientation = 1;
};
bool SaveHeif(const QString& path, const QImage& image, HeifOptions options = {});

// The picture as a reference decoder shows it, upright: heif-convert for HEIC, HEIF and AVIF
// (ImageMagick reads them with wrong colours), Qt's reader for the rest. Null when it cannot.
QImage ReadReference(const QString& path);

// Writes EXIF's DateTimeOriginal ("YYYY:MM:DD HH:MM:SS") into a JPEG or HEIF file, with exiftool.
bool SetDateTaken(const QString& path, const QString& dateTime);

// A JPEG with an EXIF block that stores `orientation` (1 to 8) as a camera does.
QByteArray JpegWithOrientation(const QImage& image, int orientation);

// A valid GIF whose canvas is `canvas` while its one frame is a single red pixel: small on disk,
// large once decoded.
QByteArray GifWithCanvas(QSize canvas);

// Colours within `tolerance` on each channel.
bool Near(QRgb a, QRgb b, int tolerance);

} // namespace vbtest
