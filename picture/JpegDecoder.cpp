#include "picture/JpegDecoder.h"

#include "picture/RowReducer.h"
#include "platform/files/RegularFile.h"
#include "platform/runtime/RuntimeError.h"

#include <QFile>
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>
#include <unistd.h>

namespace vb {

namespace {

struct ErrorManager
{
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr info)
{
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    info->err->format_message(info, manager->message);
    std::longjmp(manager->jump, 1);
}

// Warnings (corrupt data, a premature end of the file) are not errors: the decoder goes on and
// fills what is missing, as every other picture reader does.
void Quiet(j_common_ptr, int) {}

// Everything that setjmp/longjmp may jump across lives here, in plain memory, so that the
// error path can release it.
struct Decode
{
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    std::FILE* file = nullptr;
    JSAMPLE* row = nullptr;
    bool created = false;

    ~Decode()
    {
        if (created)
            jpeg_destroy_decompress(&info);
        std::free(row);
        if (file)
            std::fclose(file);
    }
};

// Up to the headers read. Called below the setjmp of its caller, whose frame a libjpeg error
// jumps back to; false for a JPEG that this decoder leaves to another one.
bool Begin(Decode& d, qint64 memoryLimit)
{
    d.info.err = jpeg_std_error(&d.errors.base);
    d.errors.base.error_exit = ErrorExit;
    d.errors.base.emit_message = Quiet;
    jpeg_create_decompress(&d.info);
    d.created = true;
    d.info.mem->max_memory_to_use = long(memoryLimit);
    jpeg_stdio_src(&d.info, d.file);
    jpeg_read_header(&d.info, TRUE);
    return d.info.jpeg_color_space != JCS_CMYK && d.info.jpeg_color_space != JCS_YCCK;
}

// Rows handed on at a time: each hand-over may wake another thread, which on a busy machine can
// take the decoder's core for a moment, so a few large bands (a megabyte of a full-screen frame)
// rather than many small ones; they measured faster than bands of 16 rows.
constexpr int BandRows = 128;

JpegDecoder::Result Run(Decode& d, const QRect& region, QImage& into, qint64 memoryLimit, QString* error,
                        const std::function<void(int)>& rowsDone)
{
    // No C++ object with a destructor may live in this function below setjmp.
    if (setjmp(d.errors.jump)) {
        *error = QString::fromLocal8Bit(d.errors.message);
        return JpegDecoder::Result::Failed;
    }
    if (!Begin(d, memoryLimit))
        return JpegDecoder::Result::NotHandled;
    if (region.right() >= int(d.info.image_width) || region.bottom() >= int(d.info.image_height)) {
        *error = QStringLiteral("the region lies outside the picture");
        return JpegDecoder::Result::Failed;
    }
    d.info.out_color_space = JCS_EXT_BGRX; // 0xffRRGGBB in memory on a little-endian machine
    jpeg_start_decompress(&d.info);

    // The crop takes whole blocks and smooths colour at its own edges as at a picture's edge, so
    // it asks for a margin on either side, which keeps the region's colours as in the whole
    // picture. `skip` is what lies left of the region in the cropped rows.
    const int margin = 16;
    const int left = std::max(0, region.x() - margin);
    const int right = std::min(int(d.info.output_width), region.x() + region.width() + margin);
    JDIMENSION cropX = JDIMENSION(left);
    JDIMENSION cropWidth = JDIMENSION(right - left);
    if (cropWidth < d.info.output_width)
        jpeg_crop_scanline(&d.info, &cropX, &cropWidth);
    else
        cropX = 0;
    const size_t skip = size_t(region.x()) - cropX;
    d.row = static_cast<JSAMPLE*>(std::malloc(size_t(cropWidth) * 4));
    if (!d.row) {
        *error = QStringLiteral("out of memory");
        return JpegDecoder::Result::Failed;
    }

    if (region.y() > 0)
        jpeg_skip_scanlines(&d.info, JDIMENSION(region.y()));
    const size_t bytes = size_t(region.width()) * 4;
    for (int y = 0; y < region.height(); ++y) {
        JSAMPROW rows[1] = {d.row};
        if (jpeg_read_scanlines(&d.info, rows, 1) != 1) {
            *error = QStringLiteral("the picture ended early");
            return JpegDecoder::Result::Failed;
        }
        std::memcpy(into.scanLine(y), d.row + skip * 4, bytes);
        if (rowsDone && ((y + 1) % BandRows == 0 || y + 1 == region.height()))
            rowsDone(y + 1);
    }
    // What lies below the region is never decoded.
    jpeg_abort_decompress(&d.info);
    return JpegDecoder::Result::Done;
}

JpegDecoder::Result Reduce(Decode& d, RowReducer& reducer, QImage& into, qint64 memoryLimit, QString* error)
{
    // No C++ object with a destructor may live in this function below setjmp.
    if (setjmp(d.errors.jump)) {
        *error = QString::fromLocal8Bit(d.errors.message);
        return JpegDecoder::Result::Failed;
    }
    if (!Begin(d, memoryLimit))
        return JpegDecoder::Result::NotHandled;
    const int width = into.width(), height = into.height();
    if (width > int(d.info.image_width) || height > int(d.info.image_height))
        return JpegDecoder::Result::NotHandled;
    // The decoder's own reduction: the smallest of 1/2, 1/4 and 1/8 that is not below the target.
    d.info.scale_num = 1;
    d.info.scale_denom = 1;
    for (const unsigned denominator : {8u, 4u, 2u}) {
        if ((d.info.image_width + denominator - 1) / denominator >= unsigned(width) &&
            (d.info.image_height + denominator - 1) / denominator >= unsigned(height)) {
            d.info.scale_denom = denominator;
            break;
        }
    }
    d.info.out_color_space = JCS_EXT_BGRX; // 0xffRRGGBB in memory on a little-endian machine
    jpeg_start_decompress(&d.info);
    const int sourceWidth = int(d.info.output_width), sourceHeight = int(d.info.output_height);
    if (sourceWidth < width || sourceHeight < height) {
        *error = QStringLiteral("the decoder's reduction went below the target");
        return JpegDecoder::Result::Failed;
    }
    reducer.Prepare(sourceWidth, sourceHeight, width, height);
    d.row = static_cast<JSAMPLE*>(std::malloc(size_t(sourceWidth) * 4));
    if (!d.row) {
        *error = QStringLiteral("out of memory");
        return JpegDecoder::Result::Failed;
    }
    for (int y = 0; y < sourceHeight; ++y) {
        JSAMPROW rows[1] = {d.row};
        if (jpeg_read_scanlines(&d.info, rows, 1) != 1) {
            *error = QStringLiteral("the picture ended early");
            return JpegDecoder::Result::Failed;
        }
        reducer.Take(d.row, into);
    }
    jpeg_finish_decompress(&d.info);
    return JpegDecoder::Result::Done;
}

// Opens the file for libjpeg; false with `error` set when it cannot.
bool Open(Decode& d, const QString& path, QString* error)
{
    try {
        const int fd = OpenRegularFileDescriptor(path);
        d.file = ::fdopen(fd, "rb");
        if (!d.file) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
            ::close(fd);
            return false;
        }
    } catch (const RuntimeError& e) {
        *error = e.cause();
        return false;
    }
    return true;
}

} // namespace

JpegDecoder::Result JpegDecoder::DecodeRegion(const QString& path, const QRect& region, QImage& into,
                                              qint64 memoryLimit, QString* error,
                                              const std::function<void(int)>& rowsDone)
{
    if (region.isEmpty() || region.x() < 0 || region.y() < 0 || into.format() != QImage::Format_RGB32 ||
        into.size() != region.size()) {
        *error = QStringLiteral("no region to decode");
        return Result::Failed;
    }
    Decode d;
    if (!Open(d, path, error))
        return Result::Failed;
    return Run(d, region, into, memoryLimit, error, rowsDone);
}

JpegDecoder::Result JpegDecoder::DecodeReduced(const QString& path, QImage& into, qint64 memoryLimit,
                                               QString* error)
{
    if (into.isNull() || into.format() != QImage::Format_RGB32) {
        *error = QStringLiteral("no target to decode into");
        return Result::Failed;
    }
    Decode d;
    if (!Open(d, path, error))
        return Result::Failed;
    RowReducer reducer;
    return Reduce(d, reducer, into, memoryLimit, error);
}

} // namespace vb
