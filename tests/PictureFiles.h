#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>
#include <optional>

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
// and mirror ('irot', 'imir'), so the stored picture is `image` and the upright one turned;
// `primaries` and `transfer` other than 2 (unspecified), or `limitedRange`, are written as its
// colour description. `limitedAlpha` codes 8-bit alpha from 16 to 235 and says so in a colour
// description of the alpha picture.
struct HeifOptions
{
    bool avif = false;
    int bits = 8;
    int orientation = 1;
    int primaries = 2;
    int transfer = 2;
    bool limitedRange = false;
    bool limitedAlpha = false;
};
bool SaveHeif(const QString& path, const QImage& image, HeifOptions options = {});

// A HEIC as phones write large photos: a grid of `tile`-sized HEVC tiles, each encoded apart by
// libheif (tiles alike in content encoded once), the grid's boxes written here. `orientation` is
// written as the grid's 'irot' and 'imir' (5 to 8 turn it a quarter); `turnsFirst` lists them
// before its size ('ispe'). `overlayAt` instead makes the primary picture an overlay of the grid
// placed at that offset on a canvas of the grid's size; `single` (for a picture of one tile) makes
// the tile itself the primary picture, with the grid's properties; `avif` codes the tiles in AV1.
struct TiledOptions
{
    QSize tile{512, 512};
    int orientation = 1;
    bool turnsFirst = false;
    std::optional<QPoint> overlayAt{};
    bool single = false;
    bool avif = false;
};
bool SaveTiledHeif(const QString& path, const QImage& image, TiledOptions options = {});

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
