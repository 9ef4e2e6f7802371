#include "picture/HeifDecoder.h"

#include "picture/HeifAv1.h"
#include "picture/HeifBoxes.h"
#include "picture/RowReducer.h"
#include "platform/runtime/RuntimeError.h"

#include <QFile>
#include <QRgb>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <exception>
#include <libheif/heif.h>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vb {

namespace {

// What decoding holds per pixel of the coded frame: what the decoder keeps beside its frame (for
// each block: modes, motion, filter state), and three planes' worth of samples of the picture's
// depth (the decoder's frame, libheif's copy of it, the red, green and blue planes it makes of
// that); an alpha frame as much again in samples. Measured peaks, 12 megapixels: libde265 6.2
// bytes a pixel at 8 bits, 9.3 at 10 bits, 7.8 with alpha; dav1d 8.4 at 8 bits with frame
// threads, 4.2 as HeifAv1 runs it (the benchmark's peak-memory child).
constexpr qint64 BytesBesideFrame = 6;
constexpr qint64 SamplesHeld = 3;
constexpr qint64 AlphaSamplesHeld = 3;

// An EXIF block is a few kilobytes; one claiming more than this is not read.
constexpr size_t MaxExifBytes = 1 << 20;

RuntimeError Failure(const QString& path, const QString& why)
{
    return RuntimeError(ErrorCode::InvalidPicture,
                        QStringLiteral("cannot load picture \"%1\": %2").arg(path, why));
}

RuntimeError Failure(const QString& path, const heif_error& error)
{
    return Failure(path, QString::fromUtf8(error.message ? error.message : "libheif failed"));
}

void InitialiseOnce()
{
    // Loads the decoders; never undone, as other threads may be decoding at any time.
    static std::once_flag once;
    std::call_once(once, [] {
        heif_init(nullptr);
        RegisterHeifAv1Decoder();
    });
}

// libheif reads through these, from the open file.
int64_t Position(void* file)
{
    return static_cast<QFile*>(file)->pos();
}

int Read(void* data, size_t size, void* file)
{
    const qint64 wanted = qint64(size);
    return static_cast<QFile*>(file)->read(static_cast<char*>(data), wanted) == wanted ? 0 : -1;
}

int Seek(int64_t position, void* file)
{
    return static_cast<QFile*>(file)->seek(position) ? 0 : -1;
}

heif_reader_grow_status WaitForFileSize(int64_t size, void* file)
{
    return size <= static_cast<QFile*>(file)->size() ? heif_reader_grow_status_size_reached
                                                     : heif_reader_grow_status_size_beyond_eof;
}

const heif_reader FileReader{1, Position, Read, Seek, WaitForFileSize};

// HDR made fit for a screen of SDR: BT.2390's EETF. The light a PQ code gives (SMPTE ST 2084), or
// HLG's (BT.2100: scene light through the display's OOTF, gamma 1.2 on a 1000-nit display, here
// on each channel), is rolled off in PQ's scale from the mastering display's peak (1000 nits, what
// most HDR pictures are graded on) to SDR's reference white (203 nits, BT.2408): unchanged up to
// the knee (about 92 nits), a Hermite spline above it. The result, relative to that white, in
// sRGB's curve: the picture's primaries stay, the colour conversion maps them.
constexpr double HdrPeakNits = 1000, SdrWhiteNits = 203;

double PqToNits(double e)
{
    constexpr double m1 = 2610.0 / 16384, m2 = 2523.0 / 4096 * 128, c1 = 3424.0 / 4096,
                     c2 = 2413.0 / 4096 * 32, c3 = 2392.0 / 4096 * 32;
    const double p = std::pow(std::clamp(e, 0.0, 1.0), 1 / m2);
    return 10000 * std::pow(std::max(p - c1, 0.0) / (c2 - c3 * p), 1 / m1);
}

double NitsToPq(double nits)
{
    constexpr double m1 = 2610.0 / 16384, m2 = 2523.0 / 4096 * 128, c1 = 3424.0 / 4096,
                     c2 = 2413.0 / 4096 * 32, c3 = 2392.0 / 4096 * 32;
    const double y = std::pow(std::clamp(nits / 10000, 0.0, 1.0), m1);
    return std::pow((c1 + c2 * y) / (1 + c3 * y), m2);
}

using NclxProfile = std::unique_ptr<heif_color_profile_nclx, decltype(&heif_nclx_color_profile_free)>;

// The picture's colour description, or none. libheif 1.15 may have made the description before it
// fails (unknown primaries), so whatever it handed out is freed, failure or not.
NclxProfile NclxOf(const heif_image_handle* handle)
{
    heif_color_profile_nclx* nclx = nullptr;
    const bool read = heif_image_handle_get_nclx_color_profile(handle, &nclx).code == heif_error_Ok;
    NclxProfile profile(nclx, heif_nclx_color_profile_free);
    if (!read)
        profile.reset();
    return profile;
}

double HlgToNits(double e)
{
    // BT.2100's constants; c is 0.5 - a * ln(4 * a), written out as the standard gives it (std::log
    // is not constexpr in every compiler).
    constexpr double a = 0.17883277, b = 1 - 4 * a, c = 0.55991073;
    e = std::clamp(e, 0.0, 1.0);
    const double scene = e <= 0.5 ? e * e / 3 : (std::exp((e - c) / a) + b) / 12;
    return HdrPeakNits * std::pow(scene, 1.2);
}

double Eetf(double nits)
{
    const double top = NitsToPq(HdrPeakNits);
    const double e1 = std::min(NitsToPq(nits) / top, 1.0);
    const double maxLum = NitsToPq(SdrWhiteNits) / top;
    const double ks = 1.5 * maxLum - 0.5;
    double e2 = e1;
    if (e1 >= ks) {
        const double t = (e1 - ks) / (1 - ks), t2 = t * t, t3 = t2 * t;
        e2 = (2 * t3 - 3 * t2 + 1) * ks + (t3 - 2 * t2 + t) * (1 - ks) + (-2 * t3 + 3 * t2) * maxLum;
    }
    return PqToNits(e2 * top);
}

double SrgbEncoded(double linear)
{
    linear = std::clamp(linear, 0.0, 1.0);
    return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

// Each code of a `bits`-deep sample of PQ (16) or HLG (18) to its 8-bit tone-mapped value.
std::vector<uchar> ToneCurve(int transfer, int bits)
{
    const int top = (1 << bits) - 1;
    std::vector<uchar> curve(size_t(top) + 1);
    for (int code = 0; code <= top; ++code) {
        const double e = double(code) / top;
        const double nits = Eetf(transfer == 16 ? PqToNits(e) : HlgToNits(e));
        curve[size_t(code)] = uchar(std::lround(255 * SrgbEncoded(nits / SdrWhiteNits)));
    }
    return curve;
}

} // namespace

struct HeifDecoder::Libheif
{
    heif_context* context = nullptr;
    heif_image_handle* handle = nullptr;
    std::optional<HeifBoxes> boxes;

    ~Libheif()
    {
        if (handle)
            heif_image_handle_release(handle);
        if (context)
            heif_context_free(context);
    }
};

// One decoded picture, whole or a tile: its planes as libheif leaves them.
struct HeifDecoder::Pixels
{
    struct Plane
    {
        const uchar* data = nullptr;
        int stride = 0;
        int bits = 8;      // significant bits of a sample, 8 or more
        bool wide = false; // two bytes a sample
        // For HDR colours: each code's 8-bit value, tone-mapped.
        const std::vector<uchar>* curve = nullptr;
    };

    QByteArray file; // a tile's own file, which libheif reads in place
    heif_context* context = nullptr;
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    QSize size;
    bool monochrome = false;
    bool alpha = false;
    bool premultiplied = false;
    bool limitedAlpha = false;
    Plane red, green, blue, alphaPlane; // a grey picture has its grey in all three

    Pixels() = default;
    Pixels(const Pixels&) = delete;
    Pixels& operator=(const Pixels&) = delete;
    ~Pixels()
    {
        if (image)
            heif_image_release(image);
        if (handle)
            heif_image_handle_release(handle);
        if (context)
            heif_context_free(context);
    }

    // Decodes `from` into `image` and finds its planes; the reason when it cannot.
    QString Decode(heif_image_handle* from, bool premultipliedAlpha)
    {
        std::unique_ptr<heif_decoding_options, void (*)(heif_decoding_options*)> options(
            heif_decoding_options_alloc(), heif_decoding_options_free);
        if (!options)
            return QStringLiteral("out of memory");
        // The colour space and layout libheif decodes to anyway (planes of red, green and blue, or
        // of grey), so that it makes no second copy in another.
        const heif_error error =
            heif_decode_image(from, &image, heif_colorspace_undefined, heif_chroma_undefined, options.get());
        if (error.code != heif_error_Ok)
            return QString::fromUtf8(error.message ? error.message : "libheif failed");
        size = QSize(heif_image_get_primary_width(image), heif_image_get_primary_height(image));
        const auto plane = [&](heif_channel channel, Plane& into) {
            // libheif asserts on the depth of a plane that is not there: ask first.
            if (!heif_image_has_channel(image, channel) ||
                heif_image_get_width(image, channel) < size.width() ||
                heif_image_get_height(image, channel) < size.height())
                return false;
            const int storage = heif_image_get_bits_per_pixel(image, channel);
            into.bits = heif_image_get_bits_per_pixel_range(image, channel);
            into.wide = storage == 16;
            into.data = heif_image_get_plane_readonly(image, channel, &into.stride);
            return into.data && (storage == 8 || storage == 16) && into.bits >= 1 && into.bits <= storage &&
                   into.stride >= size.width() * (storage / 8);
        };
        const heif_colorspace colours = heif_image_get_colorspace(image);
        if (colours == heif_colorspace_RGB && heif_image_get_chroma_format(image) == heif_chroma_444) {
            if (!plane(heif_channel_R, red) || !plane(heif_channel_G, green) || !plane(heif_channel_B, blue))
                return QStringLiteral("the decoded colour planes do not match the picture");
        } else if (colours == heif_colorspace_monochrome) {
            monochrome = true;
            if (!plane(heif_channel_Y, red))
                return QStringLiteral("the decoded grey plane does not match the picture");
            green = blue = red;
        } else {
            return QStringLiteral("the picture decodes to colours this program does not draw");
        }
        alpha = heif_image_has_channel(image, heif_channel_Alpha) != 0;
        premultiplied = alpha && premultipliedAlpha;
        if (alpha && !plane(heif_channel_Alpha, alphaPlane))
            return QStringLiteral("the decoded alpha plane does not match the picture");
        return QString();
    }

    // Tone-maps the colour planes through `curve` (ToneCurve of their depth).
    void ToneMap(const std::vector<uchar>* curve) { red.curve = green.curve = blue.curve = curve; }

    static void Samples(const Plane& plane, int y, int x, int width, uchar* out)
    {
        const uchar* row = plane.data + qsizetype(y) * plane.stride;
        if (plane.curve) {
            const uchar* curve = plane.curve->data();
            const int top = int(plane.curve->size()) - 1;
            for (int i = 0; i < width; ++i)
                out[i] = curve[std::min<int>(
                    plane.wide ? reinterpret_cast<const quint16*>(row)[x + i] : row[x + i], top)];
            return;
        }
        if (!plane.wide) {
            const uchar* from = row + x;
            if (plane.bits == 8) {
                std::copy(from, from + width, out);
                return;
            }
            const int top = (1 << plane.bits) - 1;
            for (int i = 0; i < width; ++i)
                out[i] = uchar((std::min<int>(from[i], top) * 255 + top / 2) / top);
            return;
        }
        // Deeper samples, stored in two bytes each in the machine's order.
        const auto* from = reinterpret_cast<const quint16*>(row) + x;
        const int top = (1 << plane.bits) - 1;
        for (int i = 0; i < width; ++i)
            out[i] = uchar((std::min<int>(from[i], top) * 255 + top / 2) / top);
    }

    // One row of pixels from (x, y) on, `width` long, in 0xffRRGGBB over black; `scratch` holds
    // the row's samples on the way.
    void Row(int y, int x, int width, QRgb* out, std::vector<uchar>& scratch) const
    {
        scratch.resize(size_t(width) * 4);
        uchar* r = scratch.data();
        uchar* g = monochrome ? r : r + width;
        uchar* b = monochrome ? r : r + 2 * width;
        uchar* a = r + 3 * width;
        Samples(red, y, x, width, r);
        if (!monochrome) {
            Samples(green, y, x, width, g);
            Samples(blue, y, x, width, b);
        }
        if (!alpha || premultiplied) {
            // A premultiplied picture's colours are already what it looks like over black.
            for (int i = 0; i < width; ++i)
                out[i] = qRgb(r[i], g[i], b[i]);
            return;
        }
        // Over black: each colour weighed by its alpha.
        Samples(alphaPlane, y, x, width, a);
        if (limitedAlpha)
            for (int i = 0; i < width; ++i)
                a[i] = uchar(std::clamp((a[i] - 16) * 255 / 219, 0, 255));
        for (int i = 0; i < width; ++i) {
            const int v = a[i];
            out[i] = qRgb((r[i] * v + 127) / 255, (g[i] * v + 127) / 255, (b[i] * v + 127) / 255);
        }
    }
};

// A picture drawn tile by tile: its grid, and how the grid's canvas shows.
struct HeifDecoder::Tiles
{
    HeifBoxes::Grid grid;
    HeifBoxes::Layout layout;
    QSize tile;
    quint32 item = 0;
    qint64 largestTileBytes = 0;
};

namespace {

// A grid is drawn tile by tile when every tile is a coded picture of one size, and the picture
// has no alpha (whose own grid libheif would have to decode whole).
// An auxiliary picture's type: HEVC's and MPEG's names for alpha.
bool IsAlpha(const HeifBoxes::Property* auxC)
{
    return auxC && (auxC->Content().contains("urn:mpeg:hevc:2015:auxid:1") ||
                    auxC->Content().contains("urn:mpeg:mpegB:cicp:systems:auxiliary:alpha"));
}

// Whether the picture's alpha is coded in limited range (16 to 235 at 8 bits), as the alpha's
// colour description says: libheif 1.15 hands it over as coded, so that opaque shows at 235.
bool LimitedRangeAlpha(const HeifBoxes& boxes, quint32 id)
{
    for (const quint32 aux : boxes.ReferencesTo(id, "auxl")) {
        const HeifBoxes::Property* colr = boxes.FindProperty(aux, "colr");
        if (IsAlpha(boxes.FindProperty(aux, "auxC")) && colr && colr->Content().size() >= 11 &&
            colr->Content().startsWith("nclx"))
            return (uchar(colr->Content()[10]) & 0x80) == 0;
    }
    return false;
}

bool TileByTile(const HeifBoxes& boxes, quint32 id, const HeifBoxes::Grid& grid, QSize* tile)
{
    for (const quint32 aux : boxes.ReferencesTo(id, "auxl")) {
        const HeifBoxes::Property* auxC = boxes.FindProperty(aux, "auxC");
        if (!auxC || IsAlpha(auxC))
            return false;
    }
    QByteArray kind;
    for (const quint32 id : grid.tiles) {
        const HeifBoxes::Item* item = boxes.Find(id);
        const std::optional<QSize> size = boxes.CodedSize(id);
        if (!item || (item->type != "hvc1" && item->type != "av01") || !size ||
            (!kind.isEmpty() && (kind != item->type || *size != *tile)))
            return false;
        kind = item->type;
        *tile = *size;
    }
    // The tiles must cover the canvas, as libheif places them: side by side from the top left.
    return qint64(tile->width()) * grid.columns >= grid.size.width() &&
           qint64(tile->height()) * grid.rows >= grid.size.height();
}

} // namespace

HeifDecoder::HeifDecoder(QFile& file, const QString& path)
    : m_path(path), m_file(file), m_heif(std::make_unique<Libheif>())
{
    InitialiseOnce();
    m_fileBytes = file.size();
    QString why;
    m_heif->boxes = HeifBoxes::Read(file, &why);
    if (!m_heif->boxes)
        throw Failure(path, why);
    const HeifBoxes& boxes = *m_heif->boxes;
    // libheif 1.15 copies an overlay's pictures without keeping to its canvas.
    if (!boxes.OverlaysFit(file, &why))
        throw Failure(path, why);
    if (!file.seek(0))
        throw Failure(path, QStringLiteral("cannot read the file"));
    m_heif->context = heif_context_alloc();
    if (!m_heif->context)
        throw Failure(path, QStringLiteral("out of memory"));
    // Tiles one after another on this thread: one tile decoder at a time, and the file read from
    // one place only.
    heif_context_set_max_decoding_threads(m_heif->context, 0);
    heif_error error = heif_context_read_from_reader(m_heif->context, &FileReader, &file, nullptr);
    if (error.code != heif_error_Ok)
        throw Failure(path, error);
    error = heif_context_get_primary_image_handle(m_heif->context, &m_heif->handle);
    if (error.code != heif_error_Ok)
        throw Failure(path, error);
    const heif_image_handle* handle = m_heif->handle;
    heif_item_id primaryId = 0;
    if (heif_context_get_primary_image_ID(m_heif->context, &primaryId).code != heif_error_Ok ||
        primaryId != boxes.Primary())
        throw Failure(path, QStringLiteral("libheif and this program see another primary picture"));

    // The size as libheif decodes the picture: its coded size through its crops and turns in the
    // order the file lists them (libheif's own header size misses the turns listed before the
    // size). A picture without a coded size has the size libheif reports.
    const quint32 primary = boxes.Primary();
    const HeifBoxes::Item* item = boxes.Find(primary);
    if (item->type == "grid") {
        std::optional<HeifBoxes::Grid> grid = boxes.GridOf(file, primary, &why);
        if (!grid)
            throw Failure(path, why);
        const std::optional<HeifBoxes::Layout> layout = boxes.LayoutOf(primary, grid->size, &why);
        if (!layout)
            throw Failure(path, why);
        m_size = layout->size;
        m_coded = grid->size;
        QSize tile;
        if (TileByTile(boxes, primary, *grid, &tile)) {
            m_tiles = std::make_unique<Tiles>(Tiles{std::move(*grid), *layout, tile, primary, 0});
            for (const quint32 id : m_tiles->grid.tiles)
                for (const auto& [offset, length] : boxes.Find(id)->extents)
                    m_tiles->largestTileBytes = std::max(m_tiles->largestTileBytes, qint64(length));
        }
    } else {
        // libheif reports the size its header gives, turned by the turns listed after the size
        // only; libheif 1.15 writes its own files with the turned size listed after the turns,
        // others list the coded size before or after them. Decoding tells which: the picture
        // must decode to one of the two (Decode).
        m_size = QSize(heif_image_handle_get_width(handle), heif_image_handle_get_height(handle));
        m_coded = QSize(heif_image_handle_get_ispe_width(handle), heif_image_handle_get_ispe_height(handle));
        if (const std::optional<HeifBoxes::Layout> layout = boxes.LayoutOf(primary, &why)) {
            m_turned = layout->size;
            m_coded = *boxes.CodedSize(primary);
        }
        // The area decoded is the coded size's, turned or not.
        if (m_coded.isEmpty() ||
            qint64(m_coded.width()) * m_coded.height() < qint64(m_size.width()) * m_size.height())
            m_coded = m_size;
    }
    if (m_size.width() <= 0 || m_size.height() <= 0)
        throw Failure(path, QStringLiteral("the picture has no size"));
    // An unknown depth counts as a deep one.
    const int bits = heif_image_handle_get_luma_bits_per_pixel(handle);
    m_sampleBytes = bits > 0 && bits <= 8 ? 1 : 2;
    m_alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    if (const NclxProfile nclx =
            heif_image_handle_get_color_profile_type(handle) == heif_color_profile_type_nclx
                ? NclxOf(handle)
                : NclxProfile(nullptr, heif_nclx_color_profile_free)) {
        const int transfer = nclx->transfer_characteristics;
        if (transfer == 16 || transfer == 18)
            m_toneCurve = ToneCurve(transfer, bits >= 8 && bits <= 16 ? bits : 10);
    }
}

HeifDecoder::~HeifDecoder() = default;

qint64 HeifDecoder::DecodeBytes() const
{
    // Beyond what a coded frame can be (and what the product below can hold), all the same.
    constexpr int MaxSide = 1 << 20;
    const auto decoding = [this](QSize coded, bool alpha) {
        const qint64 pixels = qint64(coded.width()) * coded.height();
        return pixels * (BytesBesideFrame + m_sampleBytes * (SamplesHeld + (alpha ? AlphaSamplesHeld : 0)));
    };
    if (m_tiles) {
        // A row of tiles' red, green and blue planes, while two tiles decode, each from its own
        // file.
        const QSize tile = m_tiles->tile;
        const qint64 row = qint64(m_tiles->grid.columns) * tile.width() * tile.height() * 3 * m_sampleBytes;
        return row + 2 * (decoding(tile, false) + m_tiles->largestTileBytes);
    }
    if (m_coded.width() > MaxSide || m_coded.height() > MaxSide)
        return qint64(1) << 60;
    return m_fileBytes + decoding(m_coded, m_alpha);
}

PictureColours HeifDecoder::Colours() const
{
    PictureColours colours;
    const heif_image_handle* handle = m_heif->handle;
    switch (heif_image_handle_get_color_profile_type(handle)) {
    case heif_color_profile_type_prof:
    case heif_color_profile_type_rICC:
        if (const size_t size = heif_image_handle_get_raw_color_profile_size(handle);
            size > 0 && size <= MaxExifBytes) {
            colours.icc.resize(qsizetype(size));
            if (heif_image_handle_get_raw_color_profile(handle, colours.icc.data()).code != heif_error_Ok)
                colours.icc.clear();
        }
        break;
    case heif_color_profile_type_nclx:
        if (const NclxProfile nclx = NclxOf(handle)) {
            colours.primaries = nclx->color_primaries;
            colours.transfer = nclx->transfer_characteristics;
            // Drawn tone-mapped, in sRGB's curve (ToneCurve).
            if (colours.HighDynamicRange())
                colours.transfer = 13;
        }
        break;
    default:
        break;
    }
    return colours;
}

QByteArray HeifDecoder::ExifBlock() const
{
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(m_heif->handle, "Exif", &id, 1) != 1)
        return QByteArray();
    const size_t size = heif_image_handle_get_metadata_size(m_heif->handle, id);
    if (size < 4 || size > MaxExifBytes)
        return QByteArray();
    QByteArray block(qsizetype(size), '\0');
    if (heif_image_handle_get_metadata(m_heif->handle, id, block.data()).code != heif_error_Ok)
        return QByteArray();
    // The block starts with the distance from its fifth byte to the TIFF header.
    const quint32 offset = qFromBigEndian<quint32>(block.constData());
    if (offset > size - 4)
        return QByteArray();
    return block.mid(qsizetype(4 + offset));
}

void HeifDecoder::Decode()
{
    if (m_decoded || m_tiles) {
        m_decoded = true;
        return;
    }
    // An AV1 frame larger than the header's coded size is refused before dav1d allocates for it.
    const HeifAv1FrameLimit limit(qint64(m_coded.width()) * m_coded.height());
    auto whole = std::make_unique<Pixels>();
    const QString why =
        whole->Decode(m_heif->handle, m_alpha && heif_image_handle_is_premultiplied_alpha(m_heif->handle));
    if (!why.isEmpty())
        throw Failure(m_path, why);
    ToneMap(*whole);
    whole->limitedAlpha = LimitedRangeAlpha(*m_heif->boxes, m_heif->boxes->Primary());
    if (whole->size != m_size && whole->size != m_turned)
        throw Failure(m_path, QStringLiteral("the picture decodes to another size than its header says"));
    m_size = whole->size;
    m_whole = std::move(whole);
    m_decoded = true;
}

void HeifDecoder::ToneMap(Pixels& pixels) const
{
    if (m_toneCurve.empty())
        return;
    if (pixels.red.bits + 1 > 16 || size_t(1) << pixels.red.bits != m_toneCurve.size())
        throw Failure(m_path, QStringLiteral("the picture decodes to another depth than its header says"));
    pixels.ToneMap(&m_toneCurve);
}

std::unique_ptr<HeifDecoder::Pixels> HeifDecoder::DecodeTile(const QByteArray& file) const
{
    auto tile = std::make_unique<Pixels>();
    tile->file = file;
    tile->context = heif_context_alloc();
    if (!tile->context)
        throw Failure(m_path, QStringLiteral("out of memory"));
    heif_context_set_max_decoding_threads(tile->context, 0);
    heif_error error = heif_context_read_from_memory_without_copy(tile->context, tile->file.constData(),
                                                                  size_t(file.size()), nullptr);
    if (error.code == heif_error_Ok)
        error = heif_context_get_primary_image_handle(tile->context, &tile->handle);
    if (error.code != heif_error_Ok)
        throw Failure(m_path, error);
    const HeifAv1FrameLimit limit(qint64(m_tiles->tile.width()) * m_tiles->tile.height());
    const QString why = tile->Decode(tile->handle, false);
    if (!why.isEmpty())
        throw Failure(m_path, why);
    if (tile->size != m_tiles->tile)
        throw Failure(m_path, QStringLiteral("a tile decodes to another size than its header says"));
    ToneMap(*tile);
    return tile;
}

std::vector<std::unique_ptr<HeifDecoder::Pixels>> HeifDecoder::DecodeTiles(int row, int first, int last) const
{
    // Each tile's file is read here, on this thread (the file is read from one place only); the
    // tiles then decode on two threads, as the machine's cores allow.
    std::vector<QByteArray> files;
    for (int column = first; column <= last; ++column) {
        const quint32 id = m_tiles->grid.tiles[size_t(row * m_tiles->grid.columns + column)];
        files.push_back(m_heif->boxes->SingleItemFile(m_file, id, m_tiles->item, m_tiles->largestTileBytes));
        if (files.back().isEmpty())
            throw Failure(m_path, QStringLiteral("a tile cannot be read"));
    }
    std::vector<std::unique_ptr<Pixels>> tiles(files.size());
    std::exception_ptr failure[2];
    const auto work = [&](size_t from, size_t step, std::exception_ptr& error) {
        try {
            for (size_t i = from; i < files.size(); i += step)
                tiles[i] = DecodeTile(files[i]);
        } catch (...) {
            error = std::current_exception();
        }
    };
    if (files.size() > 1 && std::thread::hardware_concurrency() > 1) {
        std::thread other(work, 1, 2, std::ref(failure[1]));
        work(0, 2, failure[0]);
        other.join();
    } else {
        work(0, 1, failure[0]);
    }
    for (const std::exception_ptr& error : failure)
        if (error)
            std::rethrow_exception(error);
    return tiles;
}

void HeifDecoder::DrawTiledRegion(const QRect& region, QImage& into) const
{
    const HeifBoxes::Layout& layout = m_tiles->layout;
    const QSize tile = m_tiles->tile;
    const QRect coded = layout.Coded(region).intersected(layout.coded);
    std::vector<uchar> scratch;
    std::vector<QRgb> row(size_t(tile.width()));
    for (int r = coded.top() / tile.height(); r <= coded.bottom() / tile.height(); ++r) {
        const int first = coded.left() / tile.width(), last = coded.right() / tile.width();
        const std::vector<std::unique_ptr<Pixels>> tiles = DecodeTiles(r, first, last);
        for (int c = first; c <= last; ++c) {
            const Pixels& pixels = *tiles[size_t(c - first)];
            const QRect part = QRect(QPoint(c * tile.width(), r * tile.height()), tile).intersected(coded);
            for (int y = part.top(); y <= part.bottom(); ++y) {
                pixels.Row(y - r * tile.height(), part.left() - c * tile.width(), part.width(), row.data(),
                           scratch);
                if (layout.Upright()) {
                    const QPoint at = layout.Shown(part.left(), y) - region.topLeft();
                    std::copy(row.begin(), row.begin() + part.width(),
                              reinterpret_cast<QRgb*>(into.scanLine(at.y())) + at.x());
                    continue;
                }
                for (int x = part.left(); x <= part.right(); ++x) {
                    const QPoint at = layout.Shown(x, y) - region.topLeft();
                    reinterpret_cast<QRgb*>(into.scanLine(at.y()))[at.x()] = row[size_t(x - part.left())];
                }
            }
        }
    }
}

void HeifDecoder::DrawTiledReduced(QImage& into) const
{
    // Reduced as coded, then turned: the reduced picture is small.
    const HeifBoxes::Layout& layout = m_tiles->layout;
    const QSize tile = m_tiles->tile;
    const QRect coded = layout.coded;
    const bool turned = layout.xy != 0;
    QImage own;
    if (!layout.Upright())
        own = QImage(turned ? into.size().transposed() : into.size(), into.format());
    QImage& reduced = layout.Upright() ? into : own;
    if (reduced.isNull())
        throw Failure(m_path, QStringLiteral("out of memory"));
    RowReducer reducer;
    reducer.Prepare(coded.width(), coded.height(), reduced.width(), reduced.height());
    std::vector<QRgb> row(size_t(coded.width()));
    std::vector<uchar> scratch;
    const int first = coded.left() / tile.width(), last = coded.right() / tile.width();
    for (int r = coded.top() / tile.height(); r <= coded.bottom() / tile.height(); ++r) {
        const std::vector<std::unique_ptr<Pixels>> tiles = DecodeTiles(r, first, last);
        const int top = std::max(coded.top(), r * tile.height());
        const int bottom = std::min(coded.bottom(), (r + 1) * tile.height() - 1);
        for (int y = top; y <= bottom; ++y) {
            for (int c = first; c <= last; ++c) {
                const int left = std::max(coded.left(), c * tile.width());
                const int right = std::min(coded.right(), (c + 1) * tile.width() - 1);
                tiles[size_t(c - first)]->Row(y - r * tile.height(), left - c * tile.width(),
                                              right - left + 1, row.data() + (left - coded.left()), scratch);
            }
            reducer.Take(reinterpret_cast<const uchar*>(row.data()), reduced);
        }
    }
    if (layout.Upright())
        return;
    // Each reduced pixel to where the turns put it.
    const int w = reduced.width() - 1, h = reduced.height() - 1;
    const int ox = -(std::min(0, layout.xx * w) + std::min(0, layout.xy * h));
    const int oy = -(std::min(0, layout.yx * w) + std::min(0, layout.yy * h));
    for (int y = 0; y <= h; ++y) {
        const auto* from = reinterpret_cast<const QRgb*>(reduced.constScanLine(y));
        for (int x = 0; x <= w; ++x)
            reinterpret_cast<QRgb*>(into.scanLine(layout.yx * x + layout.yy * y +
                                                  oy))[layout.xx * x + layout.xy * y + ox] = from[x];
    }
}

void HeifDecoder::DrawRegion(const QRect& region, QImage& into) const
{
    if (!m_decoded || !QRect(QPoint(0, 0), m_size).contains(region) ||
        into.format() != QImage::Format_RGB32 || into.size() != region.size())
        throw Failure(m_path, QStringLiteral("no region to draw"));
    if (m_tiles) {
        DrawTiledRegion(region, into);
        return;
    }
    std::vector<uchar> scratch;
    for (int y = 0; y < region.height(); ++y)
        m_whole->Row(region.y() + y, region.x(), region.width(), reinterpret_cast<QRgb*>(into.scanLine(y)),
                     scratch);
}

void HeifDecoder::DrawReduced(QImage& into) const
{
    if (!m_decoded || into.isNull() || into.format() != QImage::Format_RGB32 ||
        into.width() > m_size.width() || into.height() > m_size.height())
        throw Failure(m_path, QStringLiteral("no target to draw into"));
    if (m_tiles) {
        DrawTiledReduced(into);
        return;
    }
    RowReducer reducer;
    reducer.Prepare(m_size.width(), m_size.height(), into.width(), into.height());
    std::vector<QRgb> row(size_t(m_size.width()));
    std::vector<uchar> scratch;
    for (int y = 0; y < m_size.height(); ++y) {
        m_whole->Row(y, 0, m_size.width(), row.data(), scratch);
        reducer.Take(reinterpret_cast<const uchar*>(row.data()), into);
    }
}

} // namespace vb
