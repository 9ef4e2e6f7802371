#pragma once

#include <QByteArray>
#include <QSize>
#include <QtGlobal>
#include <optional>

class QIODevice;

namespace vb {

// A picture's kind, told by its first bytes. A file's name does not tell it: pictures saved from
// the web or a messenger are often PNG or BMP named ".jpg".
enum class PictureType { Unknown, Jpeg, Png, Gif, Bmp, Webp, Tiff, Heif };

// What the first bytes of a picture file tell: its kind, and the memory its decoder will take,
// read before the decoder sees the file (Qt's reader reports neither figure).
struct PictureHeaderFacts
{
    PictureType type = PictureType::Unknown;

    // A GIF's logical screen. Qt decodes the first frame onto a canvas of this size, while the
    // reader reports the frame's own size.
    std::optional<QSize> gifScreen;

    bool jpeg = false;
    // For a JPEG: the bytes libjpeg allocates to hold the whole picture as coefficients before it
    // gives out its first row, which it does for a progressive JPEG and for one whose colour
    // components come in separate scans; 0 when it decodes row by row. nullopt when the headers
    // could not be followed up to the first scan.
    std::optional<qint64> jpegWholeImageBytes;

    // An animated WebP: Qt composes its first frame, decoded apart, onto a canvas of the
    // picture's size, so it holds two pictures.
    bool webpAnimated = false;
};

// The name Qt's image reader knows the kind by ("jpeg", "png", ...); empty for the kinds it does
// not read.
QByteArray QtFormatOf(PictureType type);

// Reads from the device's current position; leaves the position wherever reading stopped.
PictureHeaderFacts ReadPictureHeaderFacts(QIODevice& device);

} // namespace vb
