#include "picture/ExifDate.h"

#include <QIODevice>
#include <libexif/exif-data.h>
#include <libexif/exif-loader.h>
#include <memory>

namespace vb {

namespace {

// EXIF lives in the APP1 segment of a JPEG, at most 64 kB, which cameras write right after the
// start of the picture; a file whose first megabyte holds none has none worth waiting for.
constexpr qint64 MaxJpegBytesRead = 1 << 20;
constexpr qint64 ReadChunk = 4096;

const QByteArray ExifHeader("Exif\0\0", 6);

struct LoaderDeleter
{
    void operator()(ExifLoader* loader) const { exif_loader_unref(loader); }
};
struct DataDeleter
{
    void operator()(ExifData* data) const { exif_data_unref(data); }
};

// "YYYY:MM:DD HH:MM:SS"; some writers use hyphens in the date.
QDate ParseDateTime(const QByteArray& text)
{
    if (text.size() < 10 || (text[4] != ':' && text[4] != '-') || text[7] != text[4])
        return QDate();
    bool yearOk = false, monthOk = false, dayOk = false;
    const QDate date(text.left(4).toInt(&yearOk), text.mid(5, 2).toInt(&monthOk),
                     text.mid(8, 2).toInt(&dayOk));
    return yearOk && monthOk && dayOk ? date : QDate();
}

} // namespace

QDate ExifBlockDateTaken(const QByteArray& block)
{
    const QByteArray data = block.startsWith(ExifHeader) ? block : ExifHeader + block;
    std::unique_ptr<ExifData, DataDeleter> exif(exif_data_new());
    if (!exif)
        return QDate();
    // Read as stored: the options that mend a block to the standard would also drop a date kept
    // in the wrong folder of tags.
    exif_data_unset_option(exif.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(exif.get(), reinterpret_cast<const unsigned char*>(data.constData()),
                        unsigned(data.size()));
    const ExifEntry* entry = exif_data_get_entry(exif.get(), EXIF_TAG_DATE_TIME_ORIGINAL);
    if (!entry || entry->format != EXIF_FORMAT_ASCII || !entry->data)
        return QDate();
    return ParseDateTime(QByteArray(reinterpret_cast<const char*>(entry->data), int(entry->size)));
}

QDate JpegDateTaken(QIODevice& device)
{
    std::unique_ptr<ExifLoader, LoaderDeleter> loader(exif_loader_new());
    if (!loader)
        return QDate();
    // The loader takes the segments one after another and says when it has the EXIF block, or
    // has met a segment after which none can come.
    QByteArray chunk;
    for (qint64 total = 0; total < MaxJpegBytesRead; total += chunk.size()) {
        chunk = device.read(ReadChunk);
        if (chunk.isEmpty() ||
            !exif_loader_write(loader.get(), reinterpret_cast<unsigned char*>(chunk.data()),
                               unsigned(chunk.size())))
            break;
    }
    const unsigned char* buffer = nullptr;
    unsigned int size = 0;
    exif_loader_get_buf(loader.get(), &buffer, &size);
    if (!buffer || size == 0)
        return QDate();
    return ExifBlockDateTaken(QByteArray(reinterpret_cast<const char*>(buffer), int(size)));
}

} // namespace vb
