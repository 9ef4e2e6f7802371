#include "picture/HeifAv1.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dav1d/dav1d.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>
#include <memory>
#include <optional>
#include <vector>

namespace vb {

namespace {

// A grid picture's tiles may each be larger than a small picture they make up; this many pixels
// are always allowed.
constexpr qint64 FrameLimitFloor = qint64(2048) * 2048;
// Without a limit set on this thread: libheif's own bound on a picture's sides.
constexpr unsigned NoLimitSet = 32768u * 32768u;

thread_local qint64 frameLimit = 0;

// Above libheif's dav1d (150) and aom (100).
constexpr int Priority = 200;

struct Decoder
{
    Dav1dContext* context = nullptr;
    // The coded data as libheif hands it over; dav1d reads it in place.
    std::vector<uint8_t> coded;
};

heif_error Ok()
{
    return {heif_error_Ok, heif_suberror_Unspecified, "Success"};
}

heif_error Failed(const char* why)
{
    return {heif_error_Decoder_plugin_error, heif_suberror_Unspecified, why};
}

const char* Name()
{
    return "dav1d, one frame context";
}

int Supports(heif_compression_format format)
{
    return format == heif_compression_AV1 ? Priority : 0;
}

heif_error NewDecoder(void** out)
{
    auto decoder = std::make_unique<Decoder>();
    Dav1dSettings settings;
    dav1d_default_settings(&settings);
    settings.max_frame_delay = 1;
    settings.all_layers = 0;
    settings.frame_size_limit =
        frameLimit > 0 ? unsigned(std::min<qint64>(std::max(frameLimit, FrameLimitFloor), NoLimitSet))
                       : NoLimitSet;
    // A damaged file is reported as a failure of the picture, not on the terminal.
    settings.logger.callback = nullptr;
    if (dav1d_open(&decoder->context, &settings) != 0)
        return Failed("cannot start the AV1 decoder");
    *out = decoder.release();
    return Ok();
}

void FreeDecoder(void* raw)
{
    auto* decoder = static_cast<Decoder*>(raw);
    if (!decoder)
        return;
    if (decoder->context)
        dav1d_close(&decoder->context);
    delete decoder;
}

heif_error PushData(void* raw, const void* data, size_t size)
{
    auto* decoder = static_cast<Decoder*>(raw);
    const auto* bytes = static_cast<const uint8_t*>(data);
    decoder->coded.insert(decoder->coded.end(), bytes, bytes + size);
    return Ok();
}

void KeepCoded(const uint8_t*, void*)
{
    // The bytes belong to the Decoder, which outlives the dav1d context.
}

struct PictureRef
{
    Dav1dPicture picture{};
    ~PictureRef() { dav1d_picture_unref(&picture); }
};

// Sends the coded data until the picture comes out. Each round either takes data or counts as a
// round without progress; a few of those in a row end it, so it cannot go round for ever.
heif_error ReceivePicture(Decoder& decoder, Dav1dPicture& picture)
{
    if (decoder.coded.empty())
        return Failed("no AV1 data");
    Dav1dData data{};
    if (dav1d_data_wrap(&data, decoder.coded.data(), decoder.coded.size(), KeepCoded, nullptr) != 0)
        return Failed("cannot pass the AV1 data on");
    struct DataRef
    {
        Dav1dData& data;
        ~DataRef()
        {
            if (data.sz)
                dav1d_data_unref(&data);
        }
    } dataRef{data};
    for (int idle = 0; idle < 4;) {
        const size_t before = data.sz;
        if (data.sz) {
            const int sent = dav1d_send_data(decoder.context, &data);
            if (sent < 0 && sent != DAV1D_ERR(EAGAIN))
                return Failed("the AV1 data is damaged, or its frame larger than the header says");
        }
        const int result = dav1d_get_picture(decoder.context, &picture);
        if (result == 0)
            return Ok();
        if (result != DAV1D_ERR(EAGAIN))
            return Failed("the AV1 frame cannot be decoded");
        idle = data.sz < before ? 0 : idle + 1;
    }
    return Failed("the AV1 data holds no picture");
}

// How a frame's planes are laid out, in libheif's terms.
struct Layout
{
    heif_colorspace colours;
    heif_chroma chroma;
    int chromaWidth;
    int chromaHeight;
    int planes;
};

std::optional<Layout> LayoutOf(const Dav1dPictureParameters& p)
{
    Layout layout{heif_colorspace_YCbCr, heif_chroma_420, (p.w + 1) / 2, (p.h + 1) / 2, 3};
    switch (p.layout) {
    case DAV1D_PIXEL_LAYOUT_I400:
        return Layout{heif_colorspace_monochrome, heif_chroma_monochrome, 0, 0, 1};
    case DAV1D_PIXEL_LAYOUT_I420:
        return layout;
    case DAV1D_PIXEL_LAYOUT_I422:
        layout.chroma = heif_chroma_422;
        layout.chromaHeight = p.h;
        return layout;
    case DAV1D_PIXEL_LAYOUT_I444:
        layout.chroma = heif_chroma_444;
        layout.chromaWidth = p.w;
        layout.chromaHeight = p.h;
        return layout;
    default:
        return std::nullopt;
    }
}

// How the samples become colours, as the sequence header says; libheif's colour conversion reads
// it (a 'colr' box of the file, when there is one, takes its place).
heif_error SetColourDescription(heif_image* image, const Dav1dSequenceHeader& sequence)
{
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    if (!nclx)
        return Ok();
    // An unknown code leaves libheif's default in place.
    heif_nclx_color_profile_set_color_primaries(nclx, uint16_t(sequence.pri));
    heif_nclx_color_profile_set_transfer_characteristics(nclx, uint16_t(sequence.trc));
    heif_nclx_color_profile_set_matrix_coefficients(nclx, uint16_t(sequence.mtrx));
    nclx->full_range_flag = sequence.color_range != 0;
    const heif_error error = heif_image_set_nclx_color_profile(image, nclx);
    heif_nclx_color_profile_free(nclx);
    return error;
}

heif_error CopyPlanes(heif_image* image, const Dav1dPicture& picture, const Layout& layout)
{
    const Dav1dPictureParameters& p = picture.p;
    const heif_channel channels[] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    const size_t sampleBytes = p.bpc > 8 ? 2 : 1;
    for (int c = 0; c < layout.planes; ++c) {
        const int width = c ? layout.chromaWidth : p.w;
        const int height = c ? layout.chromaHeight : p.h;
        if (const heif_error error = heif_image_add_plane(image, channels[c], width, height, p.bpc);
            error.code != heif_error_Ok)
            return error;
        int stride = 0;
        uint8_t* to = heif_image_get_plane(image, channels[c], &stride);
        const auto* from = static_cast<const uint8_t*>(picture.data[c]);
        const ptrdiff_t fromStride = picture.stride[c ? 1 : 0];
        if (!to || !from || size_t(stride) < width * sampleBytes)
            return Failed("the AV1 frame's planes do not match it");
        for (int y = 0; y < height; ++y)
            std::memcpy(to + ptrdiff_t(y) * stride, from + y * fromStride, width * sampleBytes);
    }
    return Ok();
}

heif_error DecodeImage(void* raw, heif_image** out)
{
    PictureRef frame;
    if (const heif_error error = ReceivePicture(*static_cast<Decoder*>(raw), frame.picture);
        error.code != heif_error_Ok)
        return error;
    const Dav1dPictureParameters& p = frame.picture.p;
    if (p.w <= 0 || p.h <= 0 || (p.bpc != 8 && p.bpc != 10 && p.bpc != 12) || !frame.picture.seq_hdr)
        return Failed("the AV1 frame has no usable size or depth");
    const std::optional<Layout> layout = LayoutOf(p);
    if (!layout)
        return Failed("the AV1 frame has an unknown layout");

    heif_image* image = nullptr;
    heif_error error = heif_image_create(p.w, p.h, layout->colours, layout->chroma, &image);
    if (error.code != heif_error_Ok)
        return error;
    std::unique_ptr<heif_image, void (*)(const heif_image*)> owned(image, heif_image_release);
    error = SetColourDescription(image, *frame.picture.seq_hdr);
    if (error.code == heif_error_Ok)
        error = CopyPlanes(image, frame.picture, *layout);
    if (error.code != heif_error_Ok)
        return error;
    *out = owned.release();
    return Ok();
}

void SetStrictDecoding(void*, int) {}

const heif_decoder_plugin Plugin{
    3,
    Name,
    nullptr,
    nullptr,
    Supports,
    NewDecoder,
    FreeDecoder,
    PushData,
    DecodeImage,
    SetStrictDecoding,
    "vellumbright-dav1d",
};

} // namespace

void RegisterHeifAv1Decoder()
{
    heif_register_decoder_plugin(&Plugin);
}

HeifAv1FrameLimit::HeifAv1FrameLimit(qint64 pixels) : m_previous(frameLimit)
{
    frameLimit = pixels;
}

HeifAv1FrameLimit::~HeifAv1FrameLimit()
{
    frameLimit = m_previous;
}

} // namespace vb
