// Any bytes as a HEIC, HEIF or AVIF file in the slideshow: read, checked against the decode
// limit, decoded by libheif, turned upright and drawn by the slide tick's loader, its EXIF date
// read for the caption, in full screen and in a preview. Either way the tick ends normally, with
// the picture or the failure cross. Inputs that are no HEIF file go to fuzz_picture's decoders;
// this target leaves them.
#include "FuzzTicks.h"
#include "picture/PictureHeaders.h"

#include <QTemporaryDir>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    vbfuzz::StartOnce("fuzz_heif");
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("picture.heic"));
    vbfuzz::WriteInput(path, data, size);
    {
        QFile file(path);
        vbfuzz::Check(file.open(QIODevice::ReadOnly));
        if (vb::ReadPictureHeaderFacts(file).type != vb::PictureType::Heif)
            return 0;
    }
    vbfuzz::ShowThroughTheTick(path);
    return 0;
}
