#include "picture/HeifDecoder.h"

#include "picture/HeifAv1.h"
#include "picture/RowReducer.h"
#include "platform/runtime/RuntimeError.h"

#include <QFile>
#include <QRgb>
#include <QtEndian>
#include <algorithm>
#include <libheif/heif.h>
#include <mutex>
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

} // namespace

struct HeifDecoder::Libheif
{
    heif_context* context = nullptr;
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;

    ~Libheif()
    {
        if (image)
            heif_image_release(image);
        if (handle)
            heif_image_handle_release(handle);
        if (context)
            heif_context_free(context);
    }
};

HeifDecoder::HeifDecoder(QFile& file, const QString& path) : m_path(path), m_heif(std::make_unique<Libheif>())
{
    InitialiseOnce();
    m_fileBytes = file.size();
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
    m_size = QSize(heif_image_handle_get_width(handle), heif_image_handle_get_height(handle));
    if (m_size.width() <= 0 || m_size.height() <= 0)
        throw Failure(path, QStringLiteral("the picture has no size"));
    m_coded = QSize(heif_image_handle_get_ispe_width(handle), heif_image_handle_get_ispe_height(handle))
                  .expandedTo(m_size.expandedTo(m_size.transposed()));
    // An unknown depth counts as a deep one.
    const int bits = heif_image_handle_get_luma_bits_per_pixel(handle);
    m_sampleBytes = bits > 0 && bits <= 8 ? 1 : 2;
    m_alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    m_premultiplied = m_alpha && heif_image_handle_is_premultiplied_alpha(handle) != 0;
}

HeifDecoder::~HeifDecoder() = default;

qint64 HeifDecoder::DecodeBytes() const
{
    // Beyond what a coded frame can be (and what the product below can hold), all the same.
    constexpr int MaxSide = 1 << 20;
    if (m_coded.width() > MaxSide || m_coded.height() > MaxSide)
        return qint64(1) << 60;
    const qint64 pixels = qint64(m_coded.width()) * m_coded.height();
    return m_fileBytes +
           pixels * (BytesBesideFrame + m_sampleBytes * (SamplesHeld + (m_alpha ? AlphaSamplesHeld : 0)));
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
    if (m_decoded)
        return;
    std::unique_ptr<heif_decoding_options, void (*)(heif_decoding_options*)> options(
        heif_decoding_options_alloc(), heif_decoding_options_free);
    if (!options)
        throw Failure(m_path, QStringLiteral("out of memory"));
    // An AV1 frame larger than the header's coded size is refused before dav1d allocates for it.
    const HeifAv1FrameLimit limit(qint64(m_coded.width()) * m_coded.height());
    // The colour space and layout libheif decodes to anyway (planes of red, green and blue, or of
    // grey), so that it makes no second copy in another.
    const heif_error error = heif_decode_image(m_heif->handle, &m_heif->image, heif_colorspace_undefined,
                                               heif_chroma_undefined, options.get());
    if (error.code != heif_error_Ok)
        throw Failure(m_path, error);
    heif_image* image = m_heif->image;
    if (heif_image_get_primary_width(image) != m_size.width() ||
        heif_image_get_primary_height(image) != m_size.height())
        throw Failure(m_path, QStringLiteral("the picture decodes to another size than its header says"));

    const auto plane = [&](heif_channel channel, Plane& into) {
        // libheif asserts on the depth of a plane that is not there: ask first.
        if (!heif_image_has_channel(image, channel) ||
            heif_image_get_width(image, channel) < m_size.width() ||
            heif_image_get_height(image, channel) < m_size.height())
            return false;
        const int storage = heif_image_get_bits_per_pixel(image, channel);
        into.bits = heif_image_get_bits_per_pixel_range(image, channel);
        into.wide = storage == 16;
        into.data = heif_image_get_plane_readonly(image, channel, &into.stride);
        return into.data && (storage == 8 || storage == 16) && into.bits >= 1 && into.bits <= storage &&
               into.stride >= m_size.width() * (storage / 8);
    };
    const heif_colorspace colours = heif_image_get_colorspace(image);
    if (colours == heif_colorspace_RGB && heif_image_get_chroma_format(image) == heif_chroma_444) {
        m_monochrome = false;
        if (!plane(heif_channel_R, m_red) || !plane(heif_channel_G, m_green) ||
            !plane(heif_channel_B, m_blue))
            throw Failure(m_path, QStringLiteral("the decoded colour planes do not match the picture"));
    } else if (colours == heif_colorspace_monochrome) {
        m_monochrome = true;
        if (!plane(heif_channel_Y, m_red))
            throw Failure(m_path, QStringLiteral("the decoded grey plane does not match the picture"));
        m_green = m_blue = m_red;
    } else {
        throw Failure(m_path, QStringLiteral("the picture decodes to colours this program does not draw"));
    }
    m_alpha = heif_image_has_channel(image, heif_channel_Alpha) != 0;
    if (m_alpha && !plane(heif_channel_Alpha, m_alphaPlane))
        throw Failure(m_path, QStringLiteral("the decoded alpha plane does not match the picture"));
    m_decoded = true;
}

void HeifDecoder::Samples(const Plane& plane, int y, int x, int width, uchar* out)
{
    const uchar* row = plane.data + qsizetype(y) * plane.stride;
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

void HeifDecoder::Row(int y, int x, int width, QRgb* out, std::vector<uchar>& scratch) const
{
    scratch.resize(size_t(width) * 4);
    uchar* red = scratch.data();
    uchar* green = m_monochrome ? red : red + width;
    uchar* blue = m_monochrome ? red : red + 2 * width;
    uchar* alpha = red + 3 * width;
    Samples(m_red, y, x, width, red);
    if (!m_monochrome) {
        Samples(m_green, y, x, width, green);
        Samples(m_blue, y, x, width, blue);
    }
    if (!m_alpha || m_premultiplied) {
        // A premultiplied picture's colours are already what it looks like over black.
        for (int i = 0; i < width; ++i)
            out[i] = qRgb(red[i], green[i], blue[i]);
        return;
    }
    // Over black: each colour weighed by its alpha.
    Samples(m_alphaPlane, y, x, width, alpha);
    for (int i = 0; i < width; ++i) {
        const int a = alpha[i];
        out[i] = qRgb((red[i] * a + 127) / 255, (green[i] * a + 127) / 255, (blue[i] * a + 127) / 255);
    }
}

void HeifDecoder::DrawRegion(const QRect& region, QImage& into) const
{
    if (!m_decoded || !QRect(QPoint(0, 0), m_size).contains(region) ||
        into.format() != QImage::Format_RGB32 || into.size() != region.size())
        throw Failure(m_path, QStringLiteral("no region to draw"));
    std::vector<uchar> scratch;
    for (int y = 0; y < region.height(); ++y)
        Row(region.y() + y, region.x(), region.width(), reinterpret_cast<QRgb*>(into.scanLine(y)), scratch);
}

void HeifDecoder::DrawReduced(QImage& into) const
{
    if (!m_decoded || into.isNull() || into.format() != QImage::Format_RGB32 ||
        into.width() > m_size.width() || into.height() > m_size.height())
        throw Failure(m_path, QStringLiteral("no target to draw into"));
    RowReducer reducer;
    reducer.Prepare(m_size.width(), m_size.height(), into.width(), into.height());
    std::vector<QRgb> row(size_t(m_size.width()));
    std::vector<uchar> scratch;
    for (int y = 0; y < m_size.height(); ++y) {
        Row(y, 0, m_size.width(), row.data(), scratch);
        reducer.Take(reinterpret_cast<const uchar*>(row.data()), into);
    }
}

} // namespace vb
