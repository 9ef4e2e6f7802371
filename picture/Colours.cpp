#include "picture/Colours.h"

#include <QCryptographicHash>
#include <QIODevice>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <emmintrin.h>
#include <lcms2.h>
#include <lcms2_plugin.h>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace vb {

namespace {

// A profile is a few kilobytes; a camera's with lookup tables some hundreds.
constexpr qsizetype MaxProfileBytes = 4 << 20;
// Transforms kept; a slideshow meets few profiles.
constexpr size_t KeptTransforms = 8;
// Below this many pixels a second thread costs more than it saves.
constexpr qint64 PixelsForTwoThreads = 256 * 1024;

struct Primaries
{
    double rx, ry, gx, gy, bx, by, wx, wy;
};

bool PrimariesOf(int code, Primaries* out)
{
    constexpr double D65x = 0.3127, D65y = 0.3290;
    switch (code) {
    case 1:
        *out = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06, D65x, D65y};
        return true;
    case 5:
        *out = {0.64, 0.33, 0.29, 0.60, 0.15, 0.06, D65x, D65y};
        return true;
    case 6:
    case 7:
        *out = {0.630, 0.340, 0.310, 0.595, 0.155, 0.070, D65x, D65y};
        return true;
    case 9:
        *out = {0.708, 0.292, 0.170, 0.797, 0.131, 0.046, D65x, D65y};
        return true;
    case 11:
        *out = {0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.314, 0.351};
        return true;
    case 12:
        *out = {0.680, 0.320, 0.265, 0.690, 0.150, 0.060, D65x, D65y};
        return true;
    default:
        return false;
    }
}

// lcms2's curve of type 4: Y = (aX + b)^g above d, cX below.
cmsToneCurve* CurveOf(int transfer)
{
    switch (transfer) {
    case 1:
    case 6:
    case 14:
    case 15: {
        const double p[] = {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081};
        return cmsBuildParametricToneCurve(nullptr, 4, p);
    }
    case 2:
    case 13: {
        const double p[] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
        return cmsBuildParametricToneCurve(nullptr, 4, p);
    }
    case 4:
        return cmsBuildGamma(nullptr, 2.2);
    case 5:
        return cmsBuildGamma(nullptr, 2.8);
    case 8:
    case 16:
    case 18:
        return cmsBuildGamma(nullptr, 1.0);
    default:
        return nullptr;
    }
}

cmsHPROFILE OpenProfile(const PictureColours& colours)
{
    if (!colours.icc.isEmpty())
        return cmsOpenProfileFromMem(colours.icc.constData(), cmsUInt32Number(colours.icc.size()));
    const QByteArray made = ProfileOf(colours.primaries == 2 ? 1 : colours.primaries, colours.transfer);
    return made.isEmpty() ? nullptr : cmsOpenProfileFromMem(made.constData(), cmsUInt32Number(made.size()));
}

// A pair of matrix-shaper profiles (three curves and a matrix each, as nearly every camera's,
// phone's and monitor's are) converted by 8-bit tables: each code of each channel to its linear
// light already through the matrix from the picture's primaries to the screen's (what it adds to
// each of the three results: three sums of a pixel, four floats at a time), and back through a
// table of the screen's curves. Several times faster than lcms2's own 8-bit path for the same
// profiles, and within one code of it; for such profiles perceptual intent is the colorimetric
// one, so the result is the same.
class MatrixShaper
{
public:
    // Null unless both are plain RGB matrix-shapers.
    static std::unique_ptr<MatrixShaper> Make(cmsHPROFILE source, cmsHPROFILE target)
    {
        if (!IsMatrixShaper(source, LCMS_USED_AS_INPUT) || !IsMatrixShaper(target, LCMS_USED_AS_OUTPUT))
            return nullptr;
        cmsMAT3 from, to, toInverse;
        if (!Colorants(source, &from) || !Colorants(target, &to) || !_cmsMAT3inverse(&to, &toInverse))
            return nullptr;
        auto made = std::make_unique<MatrixShaper>();
        cmsMAT3 product;
        _cmsMAT3per(&product, &toInverse, &from);
        const cmsTagSignature curves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
        for (int c = 0; c < 3; ++c) {
            const auto* in = static_cast<const cmsToneCurve*>(cmsReadTag(source, curves[c]));
            const auto* out = static_cast<const cmsToneCurve*>(cmsReadTag(target, curves[c]));
            cmsToneCurve* back = out ? cmsReverseToneCurve(out) : nullptr;
            if (!in || !back)
                return nullptr;
            for (int code = 0; code < 256; ++code) {
                const double linear = cmsEvalToneCurveFloat(in, float(code) / 255) * (Steps - 1);
                for (int result = 0; result < 3; ++result)
                    made->m_added[c][code][result] = float(product.v[result].n[c] * linear);
                made->m_added[c][code][3] = 0;
            }
            for (int step = 0; step < Steps; ++step)
                made->m_encoded[c][step] = uchar(std::lround(
                    255 * std::clamp(cmsEvalToneCurveFloat(back, float(step) / (Steps - 1)), 0.f, 1.f)));
            cmsFreeToneCurve(back);
        }
        return made;
    }

    // `count` pixels of 0xAARRGGBB in place, alpha kept.
    void Convert(QRgb* pixels, int count) const
    {
        const __m128 half = _mm_set1_ps(0.5f), top = _mm_set1_ps(Steps - 1), zero = _mm_setzero_ps();
        alignas(16) qint32 step[4];
        for (int i = 0; i < count; ++i) {
            const QRgb p = pixels[i];
            const __m128 sum =
                _mm_add_ps(_mm_add_ps(_mm_load_ps(m_added[0][qRed(p)]), _mm_load_ps(m_added[1][qGreen(p)])),
                           _mm_add_ps(_mm_load_ps(m_added[2][qBlue(p)]), half));
            _mm_store_si128(reinterpret_cast<__m128i*>(step),
                            _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(sum, zero), top)));
            pixels[i] = (p & 0xff000000) | uint(m_encoded[0][step[0]]) << 16 |
                        uint(m_encoded[1][step[1]]) << 8 | m_encoded[2][step[2]];
        }
    }

private:
    // Linear light's steps in the table back: dark sRGB codes are 0.8 of a step apart.
    static constexpr int Steps = 4096;

    // Curves and colorants, and no lookup table lcms2 would use in their place.
    static bool IsMatrixShaper(cmsHPROFILE profile, int direction)
    {
        return cmsGetColorSpace(profile) == cmsSigRgbData && cmsIsMatrixShaper(profile) &&
               !cmsIsCLUT(profile, INTENT_PERCEPTUAL, direction) &&
               !cmsIsTag(profile, direction == LCMS_USED_AS_INPUT ? cmsSigDToB0Tag : cmsSigBToD0Tag);
    }

    // Linear RGB to the connection space's XYZ: the colorants as columns.
    static bool Colorants(cmsHPROFILE profile, cmsMAT3* out)
    {
        const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
        for (int c = 0; c < 3; ++c) {
            const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tags[c]));
            if (!xyz)
                return false;
            out->v[0].n[c] = xyz->X;
            out->v[1].n[c] = xyz->Y;
            out->v[2].n[c] = xyz->Z;
        }
        return true;
    }

    // Per channel and code, what it adds to the red, green and blue results (in steps), and 0.
    alignas(16) float m_added[3][256][4];
    uchar m_encoded[3][Steps];
};

// What converts one pair of profiles: the tables, or else lcms2's transform.
struct Conversion
{
    std::unique_ptr<MatrixShaper> tables;
    cmsHTRANSFORM transform = nullptr;

    Conversion() = default;
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;
    ~Conversion()
    {
        if (transform)
            cmsDeleteTransform(transform);
    }

    void Rows(uchar* first, int width, int rows, qsizetype stride) const
    {
        if (!tables) {
            cmsDoTransformLineStride(transform, first, first, cmsUInt32Number(width), cmsUInt32Number(rows),
                                     cmsUInt32Number(stride), cmsUInt32Number(stride), 0, 0);
            return;
        }
        for (int y = 0; y < rows; ++y)
            tables->Convert(reinterpret_cast<QRgb*>(first + qsizetype(y) * stride), width);
    }
};

std::shared_ptr<const Conversion> MakeConversion(const PictureColours& from, const QByteArray& screen)
{
    cmsHPROFILE source = OpenProfile(from);
    cmsHPROFILE target = screen.isEmpty()
                             ? cmsCreate_sRGBProfile()
                             : cmsOpenProfileFromMem(screen.constData(), cmsUInt32Number(screen.size()));
    auto made = std::make_shared<Conversion>();
    // Only RGB profiles describe what these pixels hold; a CMYK or grey profile of a JPEG that Qt
    // has already turned into RGB does not.
    if (source && target && cmsGetColorSpace(source) == cmsSigRgbData &&
        cmsGetColorSpace(target) == cmsSigRgbData) {
        made->tables = MatrixShaper::Make(source, target);
        if (!made->tables)
            // No one-pixel cache: the transform runs on two threads at once.
            made->transform = cmsCreateTransform(source, TYPE_BGRA_8, target, TYPE_BGRA_8, INTENT_PERCEPTUAL,
                                                 cmsFLAGS_COPY_ALPHA | cmsFLAGS_NOCACHE);
    }
    if (source)
        cmsCloseProfile(source);
    if (target)
        cmsCloseProfile(target);
    return made->tables || made->transform ? std::move(made) : nullptr;
}

// The kept conversions, by the hash of both profiles; the least recently used goes first. One in
// use on another thread lives on until that thread lets it go.
class ConversionCache
{
public:
    std::shared_ptr<const Conversion> Get(const PictureColours& from, const QByteArray& screen)
    {
        QCryptographicHash hash(QCryptographicHash::Sha1);
        hash.addData(from.icc);
        hash.addData(QByteArray::number(from.primaries) + '/' + QByteArray::number(from.transfer) + '/');
        hash.addData(screen);
        const QByteArray key = hash.result();
        std::lock_guard lock(m_mutex);
        if (const auto found = m_kept.find(key); found != m_kept.end()) {
            found->second.used = ++m_clock;
            return found->second.conversion;
        }
        std::shared_ptr<const Conversion> made = MakeConversion(from, screen);
        if (!made)
            return nullptr;
        if (m_kept.size() >= KeptTransforms)
            m_kept.erase(std::min_element(m_kept.begin(), m_kept.end(), [](const auto& a, const auto& b) {
                return a.second.used < b.second.used;
            }));
        m_kept.emplace(key, Entry{made, ++m_clock});
        return made;
    }

private:
    struct Entry
    {
        std::shared_ptr<const Conversion> conversion;
        quint64 used;
    };
    std::mutex m_mutex;
    std::map<QByteArray, Entry> m_kept;
    quint64 m_clock = 0;
};

ConversionCache& Cache()
{
    static ConversionCache cache;
    return cache;
}

} // namespace

bool PictureColours::Managed() const
{
    if (!icc.isEmpty())
        return true;
    Primaries known;
    const bool srgbPrimaries = primaries == 1 || primaries == 2;
    const bool srgbCurve =
        transfer == 1 || transfer == 2 || transfer == 6 || transfer == 13 || transfer == 14 || transfer == 15;
    const bool knownCurve =
        srgbCurve || transfer == 4 || transfer == 5 || transfer == 8 || HighDynamicRange();
    return !(srgbPrimaries && srgbCurve) && (srgbPrimaries || PrimariesOf(primaries, &known)) && knownCurve;
}

QByteArray ProfileOf(int primaries, int transfer)
{
    Primaries p;
    if (!PrimariesOf(primaries, &p))
        return QByteArray();
    cmsToneCurve* curve = CurveOf(transfer);
    if (!curve)
        return QByteArray();
    const cmsCIExyY white{p.wx, p.wy, 1.0};
    const cmsCIExyYTRIPLE triple{{p.rx, p.ry, 1.0}, {p.gx, p.gy, 1.0}, {p.bx, p.by, 1.0}};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &triple, curves);
    cmsFreeToneCurve(curve);
    QByteArray bytes;
    cmsUInt32Number size = 0;
    if (profile && cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
        bytes.resize(qsizetype(size));
        if (!cmsSaveProfileToMem(profile, bytes.data(), &size))
            bytes.clear();
    }
    if (profile)
        cmsCloseProfile(profile);
    return bytes;
}

bool ConvertColours(QImage& image, const QRect& area, const PictureColours& from, const QByteArray& screen)
{
    if (from.icc.size() > MaxProfileBytes || screen.size() > MaxProfileBytes)
        return false;
    const QRect rect = area.intersected(image.rect());
    if (rect.isEmpty() || (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32))
        return false;
    const std::shared_ptr<const Conversion> conversion = Cache().Get(from, screen);
    if (!conversion)
        return false;
    const qsizetype stride = image.bytesPerLine();
    uchar* first = image.scanLine(rect.top()) + rect.left() * 4;
    const auto rows = [&](int from, int count) {
        conversion->Rows(first + qsizetype(from) * stride, rect.width(), count, stride);
    };
    const int half = rect.height() / 2;
    if (qint64(rect.width()) * rect.height() >= PixelsForTwoThreads &&
        std::thread::hardware_concurrency() > 1) {
        std::thread other(rows, half, rect.height() - half);
        rows(0, half);
        other.join();
    } else {
        rows(0, rect.height());
    }
    return true;
}

RowConverter::RowConverter(QImage& image, const PictureColours& from, const QByteArray& screen)
{
    if (from.icc.size() > MaxProfileBytes || screen.size() > MaxProfileBytes ||
        (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32))
        return;
    std::shared_ptr<const Conversion> conversion = Cache().Get(from, screen);
    if (!conversion)
        return;
    // Taken here, before the filling thread writes: bits() may detach the image.
    uchar* const first = image.bits();
    const qsizetype stride = image.bytesPerLine();
    const int width = image.width();
    m_thread = std::thread([this, conversion = std::move(conversion), first, stride, width] {
        for (int done = 0, ready; (ready = Wait(done)) > done; done = ready)
            conversion->Rows(first + qsizetype(done) * stride, width, ready - done, stride);
    });
}

RowConverter::~RowConverter()
{
    Finish();
}

void RowConverter::Ready(int rows)
{
    {
        std::lock_guard lock(m_mutex);
        m_ready = std::max(m_ready, rows);
    }
    m_changed.notify_one();
}

bool RowConverter::Finish()
{
    if (!m_thread.joinable())
        return false;
    {
        std::lock_guard lock(m_mutex);
        m_finishing = true;
    }
    m_changed.notify_one();
    m_thread.join();
    return true;
}

int RowConverter::Wait(int done)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_ready > done || m_finishing; });
    return m_ready;
}

QByteArray JpegIccProfile(QIODevice& device)
{
    if (!device.seek(0))
        return QByteArray();
    const QByteArray start = device.read(2);
    if (start != QByteArray("\xff\xd8", 2))
        return QByteArray();
    std::map<int, QByteArray> chunks;
    int count = 0;
    for (;;) {
        const QByteArray marker = device.read(4);
        if (marker.size() < 4 || uchar(marker[0]) != 0xff)
            break;
        const uchar kind = uchar(marker[1]);
        if (kind == 0xda || kind == 0xd9)
            break;
        const int length = qFromBigEndian<quint16>(marker.constData() + 2);
        if (length < 2)
            break;
        const QByteArray content = device.read(length - 2);
        if (content.size() != length - 2)
            break;
        // "ICC_PROFILE\0", then this chunk's number and the number of chunks.
        if (kind == 0xe2 && content.size() > 14 && content.startsWith(QByteArray("ICC_PROFILE\0", 12))) {
            const int number = uchar(content[12]);
            count = uchar(content[13]);
            chunks[number] = content.mid(14);
        }
    }
    QByteArray profile;
    for (int i = 1; i <= count; ++i) {
        const auto chunk = chunks.find(i);
        if (chunk == chunks.end() || profile.size() + chunk->second.size() > MaxProfileBytes)
            return QByteArray();
        profile += chunk->second;
    }
    return profile;
}

} // namespace vb
