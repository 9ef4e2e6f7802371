#pragma once

#include <QSize>
#include <QtGlobal>
#include <optional>

class QIODevice;

namespace vb {

// What the first bytes of a picture file tell about the memory its decoder will take, read
// before the decoder sees the file: Qt's reader does not report either figure.
struct PictureHeaderFacts
{
    // A GIF's logical screen. Qt decodes the first frame onto a canvas of this size, while the
    // reader reports the frame's own size.
    std::optional<QSize> gifScreen;

    bool jpeg = false;
    // For a JPEG: the bytes libjpeg allocates to hold the whole picture as coefficients before it
    // gives out its first row, which it does for a progressive JPEG and for one whose colour
    // components come in separate scans; 0 when it decodes row by row. nullopt when the headers
    // could not be followed up to the first scan.
    std::optional<qint64> jpegWholeImageBytes;
};

// Reads from the device's current position; leaves the position wherever reading stopped.
PictureHeaderFacts ReadPictureHeaderFacts(QIODevice& device);

} // namespace vb
