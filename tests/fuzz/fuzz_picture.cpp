// Any bytes as a picture file in the slideshow: made into a frame by the slide tick's loader and
// shown on an image canvas, in full screen and in a preview, with the date taken in the caption. Either way
// the tick ends normally, with the picture or the failure cross.
#include "FuzzTicks.h"
#include "picture/PictureHeaders.h"

#include <QImageReader>
#include <QTemporaryDir>
#include <cstdint>

namespace {

// A JPEG decoded row by row takes time in proportion to the size its header declares, even when
// little of it shows; beyond this many pixels the fuzzer would only find its own timeout.
constexpr qint64 MaxRowByRowPixels = qint64(1) << 24;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    vbfuzz::StartOnce("fuzz_picture");
    static QTemporaryDir dir;
    // The kind comes from the content; the name is one the catalogue collects.
    const char* const extensions[] = {"bmp", "jpg", "jpeg", "gif"};
    const QString path = dir.filePath(QStringLiteral("picture.") + extensions[size % 4]);
    vbfuzz::WriteInput(path, data, size);
    {
        QFile file(path);
        vbfuzz::Check(file.open(QIODevice::ReadOnly));
        const vb::PictureHeaderFacts facts = vb::ReadPictureHeaderFacts(file);
        const QSize declared = QImageReader(path).size();
        if (facts.jpeg && facts.jpegWholeImageBytes == 0 &&
            qint64(std::abs(declared.width())) * std::abs(declared.height()) > MaxRowByRowPixels)
            return 0;
    }
    vbfuzz::ShowThroughTheTick(path);
    return 0;
}
