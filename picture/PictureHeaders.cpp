#include "picture/PictureHeaders.h"

#include <QIODevice>
#include <algorithm>
#include <vector>

namespace vb {

namespace {

// Bounds on what is looked at: a real JPEG reaches its first scan after a few dozen segments.
constexpr int MaxSegments = 4096;
constexpr qint64 MaxSkippedBytes = 1 << 20;

constexpr int JpegBlock = 8;
constexpr qint64 CoefficientBytesPerBlock = 64 * 2; // 64 coefficients of 16 bits

struct Component
{
    int h = 0; // sampling factors
    int v = 0;
};

int Big16(const QByteArray& bytes, qsizetype at)
{
    return (uchar(bytes[at]) << 8) | uchar(bytes[at + 1]);
}

qint64 CeilDiv(qint64 a, qint64 b)
{
    return (a + b - 1) / b;
}

qint64 RoundUp(qint64 a, qint64 b)
{
    return CeilDiv(a, b) * b;
}

bool IsFrameMarker(int marker)
{
    return marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
}

bool IsProgressive(int marker)
{
    return marker == 0xc2 || marker == 0xc6 || marker == 0xca || marker == 0xce;
}

// The next marker after the start of image, found the way libjpeg finds it: bytes other than
// 0xFF before it are skipped, fill bytes 0xFF are skipped, and 0xFF 0x00 is no marker. -1 at the
// end of the data or after too much garbage.
int NextMarker(QIODevice& device, qint64& skipped)
{
    char c;
    for (;;) {
        if (!device.getChar(&c))
            return -1;
        while (uchar(c) != 0xff) {
            if (++skipped > MaxSkippedBytes || !device.getChar(&c))
                return -1;
        }
        do {
            if (!device.getChar(&c))
                return -1;
        } while (uchar(c) == 0xff);
        if (c != 0)
            return uchar(c);
        skipped += 2;
    }
}

std::optional<qint64> JpegWholeImageBytes(QIODevice& device)
{
    int width = 0, height = 0;
    bool frame = false, progressive = false;
    std::vector<Component> components;
    qint64 skipped = 0;
    for (int segment = 0; segment < MaxSegments; ++segment) {
        const int marker = NextMarker(device, skipped);
        if (marker < 0 || marker == 0xd8 || marker == 0xd9)
            return std::nullopt;
        if ((marker >= 0xd0 && marker <= 0xd7) || marker == 0x01)
            continue; // markers without a length
        const QByteArray lengthBytes = device.read(2);
        if (lengthBytes.size() != 2 || Big16(lengthBytes, 0) < 2)
            return std::nullopt;
        const int length = Big16(lengthBytes, 0) - 2;

        if (IsFrameMarker(marker) && !frame) {
            const QByteArray body = device.read(length);
            if (body.size() < 6 || body.size() != length)
                return std::nullopt;
            height = Big16(body, 1);
            width = Big16(body, 3);
            const int count = uchar(body[5]);
            if (count < 1 || body.size() < 6 + 3 * count)
                return std::nullopt;
            for (int i = 0; i < count; ++i) {
                const int factors = uchar(body[6 + 3 * i + 1]);
                const Component c{factors >> 4, factors & 0x0f};
                if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4)
                    return std::nullopt;
                components.push_back(c);
            }
            frame = true;
            progressive = IsProgressive(marker);
            continue;
        }
        if (marker == 0xda) {
            const QByteArray body = device.read(1);
            if (!frame || body.size() != 1)
                return std::nullopt;
            const qsizetype inFirstScan = uchar(body[0]);
            if (!progressive && inFirstScan >= qsizetype(components.size()))
                return 0;
            // Each component is kept whole, in blocks of 8 x 8, rounded up to its sampling factors.
            int maxH = 1, maxV = 1;
            for (const Component& c : components) {
                maxH = std::max(maxH, c.h);
                maxV = std::max(maxV, c.v);
            }
            qint64 bytes = 0;
            for (const Component& c : components) {
                const qint64 blocksWide = CeilDiv(qint64(width) * c.h, qint64(maxH) * JpegBlock);
                const qint64 blocksHigh = CeilDiv(qint64(height) * c.v, qint64(maxV) * JpegBlock);
                bytes += RoundUp(blocksWide, c.h) * RoundUp(blocksHigh, c.v) * CoefficientBytesPerBlock;
            }
            return bytes;
        }
        if (device.skip(length) != length)
            return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

namespace {

// The brands of an ISO media file ('ftyp' box) that say it holds a HEIF still picture, coded as
// HEVC (HEIC) or AV1 (AVIF), or in any coding ('mif1').
bool IsHeifBrand(QByteArrayView brand)
{
    static constexpr const char* Brands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx",
                                             "mif1", "msf1", "avif", "avis", "mif2"};
    for (const char* known : Brands)
        if (brand == QByteArrayView(known, 4))
            return true;
    return false;
}

bool IsHeif(const QByteArray& start)
{
    if (start.size() < 16 || start.mid(4, 4) != "ftyp")
        return false;
    const qsizetype boxSize = qsizetype(Big16(start, 0)) << 16 | Big16(start, 2);
    if (boxSize < 16)
        return false;
    if (IsHeifBrand(QByteArrayView(start).sliced(8, 4)))
        return true;
    // The compatible brands follow the minor version.
    for (qsizetype at = 16; at + 4 <= std::min(boxSize, start.size()); at += 4)
        if (IsHeifBrand(QByteArrayView(start).sliced(at, 4)))
            return true;
    return false;
}

PictureType TypeOf(const QByteArray& start)
{
    if (start.startsWith("\xff\xd8"))
        return PictureType::Jpeg;
    if (start.startsWith("\x89PNG\r\n\x1a\n"))
        return PictureType::Png;
    if (start.startsWith("GIF8"))
        return PictureType::Gif;
    if (start.startsWith("BM"))
        return PictureType::Bmp;
    if (start.startsWith("RIFF") && start.mid(8, 4) == "WEBP")
        return PictureType::Webp;
    if (start.startsWith(QByteArray("II*\0", 4)) || start.startsWith(QByteArray("MM\0*", 4)))
        return PictureType::Tiff;
    if (IsHeif(start))
        return PictureType::Heif;
    return PictureType::Unknown;
}

} // namespace

QByteArray QtFormatOf(PictureType type)
{
    switch (type) {
    case PictureType::Jpeg:
        return "jpeg";
    case PictureType::Png:
        return "png";
    case PictureType::Gif:
        return "gif";
    case PictureType::Bmp:
        return "bmp";
    case PictureType::Webp:
        return "webp";
    case PictureType::Tiff:
        return "tiff";
    case PictureType::Heif:
    case PictureType::Unknown:
        break;
    }
    return QByteArray();
}

PictureHeaderFacts ReadPictureHeaderFacts(QIODevice& device)
{
    PictureHeaderFacts facts;
    // Enough for every signature and for the brands of a HEIF file's first box.
    const QByteArray start = device.read(64);
    facts.type = TypeOf(start);
    switch (facts.type) {
    case PictureType::Jpeg:
        facts.jpeg = true;
        if (device.seek(device.pos() - start.size() + 2))
            facts.jpegWholeImageBytes = JpegWholeImageBytes(device);
        break;
    case PictureType::Gif:
        if (start.size() >= 10) {
            const auto little16 = [&start](int at) {
                return uchar(start[at]) | (uchar(start[at + 1]) << 8);
            };
            facts.gifScreen = QSize(little16(6), little16(8));
        }
        break;
    case PictureType::Webp:
        // An extended WebP ('VP8X' chunk first) says in its flags whether it is animated.
        facts.webpAnimated = start.size() >= 21 && start.mid(12, 4) == "VP8X" && (uchar(start[20]) & 0x02);
        break;
    default:
        break;
    }
    return facts;
}

} // namespace vb
