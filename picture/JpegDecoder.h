#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <functional>

namespace vb {

// Decodes a rectangle of a JPEG file at the picture's own size straight into 32-bit pixels
// (0xffRRGGBB, the format the cover window draws), reading no more than the rectangle needs:
// rows above it are skipped without being turned into pixels, columns beside it are cut off
// inside the decoder, and decoding stops after its last row. A full-screen change of a photo
// larger than the screen thus costs about what libjpeg-turbo's own cropping decoder costs.
class JpegDecoder
{
public:
    enum class Result {
        Done,
        // A JPEG this path does not handle (CMYK, for one); another decoder may.
        NotHandled,
        // Not a JPEG, or a broken one, or one that would need more memory than allowed.
        Failed,
    };

    // `region` is in the picture's pixels and lies inside it; `into` is an image of the region's
    // size in Format_RGB32, possibly sharing memory with a larger one (its bytesPerLine is kept).
    // `memoryLimit` bounds what the decoder may allocate, in bytes. `rowsDone`, when given, hears
    // after each band of rows how many of `into`'s rows are final, so that another thread can
    // work on them while the rest is decoded.
    static Result DecodeRegion(const QString& path, const QRect& region, QImage& into, qint64 memoryLimit,
                               QString* error, const std::function<void(int)>& rowsDone = {});

    // The whole picture, as stored, reduced to the size of `into` (Format_RGB32, no larger than
    // the picture either way, possibly sharing memory with a larger image). libjpeg-turbo scales
    // by 1/2, 1/4 or 1/8 while it decodes, to the smallest of those sizes not below the target;
    // each decoded row is then averaged into the target at once (every target pixel the mean of
    // the area of the picture it covers), so that no more than one row of the decoded picture
    // is ever held.
    static Result DecodeReduced(const QString& path, QImage& into, qint64 memoryLimit, QString* error);
};

} // namespace vb
