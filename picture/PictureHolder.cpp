#include "picture/PictureHolder.h"

#include "picture/Canvas.h"
#include "picture/ExifDate.h"
#include "picture/HeifDecoder.h"
#include "picture/JpegDecoder.h"
#include "picture/Orientation.h"
#include "picture/PictureHeaders.h"
#include "platform/files/RegularFile.h"
#include "platform/runtime/RuntimeError.h"

#include <QColorSpace>
#include <QCoreApplication>
#include <QFile>
#include <QImageReader>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <optional>

namespace vb {

namespace {

RuntimeError LoadFailure(const QImageReader& reader, const QString& path)
{
    const ErrorCode code = reader.error() == QImageReader::FileNotFoundError ? ErrorCode::FileNotFound
                                                                             : ErrorCode::InvalidPicture;
    return RuntimeError(code,
                        QStringLiteral("cannot load picture \"%1\": %2").arg(path, reader.errorString()));
}

RuntimeError TooLarge(const QString& path, qint64 bytes, qint64 limit)
{
    constexpr qint64 Megabyte = 1 << 20;
    return RuntimeError(
        ErrorCode::InvalidPicture,
        QStringLiteral("cannot load picture \"%1\": it needs %2 MB to decode, more than %3 MB")
            .arg(path)
            .arg((bytes + Megabyte - 1) / Megabyte)
            .arg(limit / Megabyte));
}

// A picture decoded whole: the image in the decoder's format and, unless that has 32 bits per
// pixel, the 32-bit copy that drawing it scaled makes; for an animated picture also the frame
// the decoder composes onto it.
qint64 WholeBytes(QSize size, QImage::Format format, bool animated = false)
{
    const qint64 pixels = qint64(size.width()) * size.height();
    const int depth = format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
    return (pixels * depth + 7) / 8 + (depth == 32 ? 0 : pixels * 4) + (animated ? pixels * 4 : 0);
}

// Without the JPEG's own headers, the worst a decoder holding the whole picture can need: three
// components at full resolution, one 16-bit coefficient per pixel each.
qint64 WorstJpegBytes(QSize size)
{
    return qint64(size.width()) * size.height() * 3 * 2;
}

// Only a reader that can both cut out and scale while decoding is worth deferring to.
bool DecodesParts(const QImageReader& reader)
{
    return reader.supportsOption(QImageIOHandler::ClipRect) &&
           reader.supportsOption(QImageIOHandler::ScaledSize) &&
           reader.supportsOption(QImageIOHandler::ScaledClipRect);
}

// `part` of the picture scaled to `target` comes from `source`, a rectangle of the picture at its
// own size, widened to whole pixels. Scaled by the same factor, `source` becomes an image of
// `size` in which `part` lies at `within`. Scaling only that piece keeps a picture enlarged far
// beyond the window, or shown in part, from costing more than what shows.
struct Piece
{
    QRect source;
    QSize size;
    QRect within;
};

Piece PieceOf(const QRect& part, QSize target, QSize own)
{
    const double sx = double(own.width()) / target.width();
    const double sy = double(own.height()) / target.height();
    const QRect source = QRectF(part.x() * sx, part.y() * sy, part.width() * sx, part.height() * sy)
                             .toAlignedRect()
                             .intersected(QRect(QPoint(0, 0), own));
    const int left = int(std::lround(source.x() / sx));
    const int top = int(std::lround(source.y() / sy));
    const int right = int(std::lround((source.x() + source.width()) / sx));
    const int bottom = int(std::lround((source.y() + source.height()) / sy));
    return Piece{source, QSize(right - left, bottom - top), part.translated(-left, -top)};
}

// Qt draws an index past a picture's colour table with whatever lies past the table in memory:
// every index gets a colour, opaque black where the file gives none.
void CompleteColourTable(QImage& image)
{
    const int entries = image.format() == QImage::Format_Indexed8 ? 256 : image.depth() == 1 ? 2 : 0;
    if (image.colorCount() >= entries)
        return;
    QList<QRgb> table = image.colorTable();
    while (table.size() < entries)
        table.append(qRgb(0, 0, 0));
    image.setColorTable(table);
}

// The index a BMP's pixels are filled with before decoding: past the colour table if the file's
// table leaves one free (so black once the table is complete), and 0xff000000 (opaque black) in
// 32 bits.
uint BlackFill(QImage::Format format)
{
    return format == QImage::Format_Indexed8 ? 255 : format == QImage::Format_Mono ? 1 : 0xff000000;
}

} // namespace

struct PictureHolder::Source
{
    QFile file;
    QImageReader reader;
    PictureHeaderFacts facts;
    // For HEIC, HEIF and AVIF, in place of the reader.
    std::unique_ptr<HeifDecoder> heif;
    QDate dateTaken;
    PictureColours colours;
};

qint64 PictureHolder::LimitBytes() const
{
    return qint64(m_decodeLimitMegabytes) << 20;
}

void PictureHolder::SetQtDecodeLimit(int megabytes)
{
    QImageReader::setAllocationLimit(megabytes);
}

namespace {
// Qt's limit is one plain value for the whole process, read by every reader as it allocates: it is
// written here once, on the main thread as the application object is made, before any loader
// thread can decode, and never again while they do.
void SetDefaultQtDecodeLimit()
{
    PictureHolder::SetQtDecodeLimit(PictureHolder::DefaultDecodeLimitMegabytes);
}
} // namespace
Q_COREAPP_STARTUP_FUNCTION(SetDefaultQtDecodeLimit)

PictureHolder::PictureHolder(int decodeLimitMegabytes) : m_decodeLimitMegabytes(decodeLimitMegabytes) {}
PictureHolder::~PictureHolder() = default;

std::unique_ptr<PictureHolder::Source> PictureHolder::OpenSource(const QString& path,
                                                                 bool readDateTaken) const
{
    auto source = std::make_unique<Source>();
    OpenRegularFile(source->file, path);
    source->facts = ReadPictureHeaderFacts(source->file);
    const auto rewind = [&] {
        if (!source->file.seek(0))
            throw RuntimeError(ErrorCode::DeviceIO, QStringLiteral("cannot read picture \"%1\"").arg(path));
    };
    rewind();
    if (source->facts.type == PictureType::Heif) {
        source->heif = std::make_unique<HeifDecoder>(source->file, path);
        if (readDateTaken)
            source->dateTaken = ExifBlockDateTaken(source->heif->ExifBlock());
        source->colours = source->heif->Colours();
        return source;
    }
    // The kind the content shows, whatever the name says: a reader told the wrong kind fails.
    const QByteArray format = QtFormatOf(source->facts.type);
    if (format.isEmpty())
        throw RuntimeError(
            ErrorCode::InvalidPicture,
            QStringLiteral("cannot load picture \"%1\": not a picture of a known kind").arg(path));
    if (readDateTaken && source->facts.jpeg) {
        source->dateTaken = JpegDateTaken(source->file);
        rewind();
    }
    if (source->facts.jpeg) {
        source->colours.icc = JpegIccProfile(source->file);
        rewind();
    }
    source->reader.setDevice(&source->file);
    source->reader.setFormat(format);
    source->reader.setAutoTransform(true);
    return source;
}

QSize PictureHolder::CheckParts(Source& source, const QString& path) const
{
    const QSize stored = source.reader.size();
    if (!stored.isValid() || stored.isEmpty())
        throw LoadFailure(source.reader, path);
    if (source.facts.jpeg) {
        const qint64 held = source.facts.jpegWholeImageBytes.value_or(WorstJpegBytes(stored));
        if (held > LimitBytes())
            throw TooLarge(path, held, LimitBytes());
    }
    return stored;
}

void PictureHolder::SetDevicePixelRatio(qreal ratio)
{
    m_devicePixelRatio = ratio > 0 ? ratio : 1.0;
}

float PictureHolder::ScaleWidth() const
{
    return float(m_size.width() * TwipsPerPixel / m_devicePixelRatio);
}

float PictureHolder::ScaleHeight() const
{
    return float(m_size.height() * TwipsPerPixel / m_devicePixelRatio);
}

void PictureHolder::Load(const QString& path)
{
    std::unique_ptr<Source> source = OpenSource(path, m_readDateTaken);
    const QDate dateTaken = source->dateTaken;
    if (source->heif)
        LoadHeif(std::move(source), path);
    else if (DecodesParts(source->reader))
        LoadParts(std::move(source), path);
    else
        LoadWhole(*source, path);
    m_path = path;
    m_dateTaken = dateTaken;
}

// Decoded whole now, as Qt's readers decode theirs: only the drawing waits.
void PictureHolder::LoadHeif(std::unique_ptr<Source> source, const QString& path)
{
    if (const qint64 bytes = source->heif->DecodeBytes(); bytes > LimitBytes())
        throw TooLarge(path, bytes, LimitBytes());
    source->heif->Decode();
    const QSize size = source->heif->Size();
    KeepSource(std::move(source), size, QImageIOHandler::TransformationNone);
}

void PictureHolder::LoadParts(std::unique_ptr<Source> source, const QString& path)
{
    const QSize stored = CheckParts(*source, path);
    const QImageIOHandler::Transformations transformation = source->reader.transformation();
    KeepSource(std::move(source), Upright(stored, transformation), transformation);
}

void PictureHolder::KeepSource(std::unique_ptr<Source> source, QSize size,
                               QImageIOHandler::Transformations transformation)
{
    m_whole = QImage();
    m_colours = source->colours;
    m_source = std::move(source);
    m_transformation = transformation;
    m_size = size;
}

void PictureHolder::LoadWhole(Source& source, const QString& path)
{
    QImage whole = DecodeWhole(source, path);
    m_source.reset();
    m_colours = PictureColours();
    if (const QColorSpace space = whole.colorSpace(); space.isValid() && space != QColorSpace::SRgb)
        m_colours.icc = space.iccProfile();
    m_whole = std::move(whole);
    m_transformation = QImageIOHandler::TransformationNone;
    m_size = m_whole.size();
}

// The size in a header is not always the size of the decoded picture: Qt reports a BMP stored
// top-down with a negative height, and a GIF's first frame while it decodes that frame onto the
// GIF's logical screen. So the check before decoding takes the larger of what the headers say,
// and the own size comes from the decoded picture.
QImage PictureHolder::DecodeWhole(Source& source, const QString& path) const
{
    QImageReader& reader = source.reader;
    const QSize stored = reader.size();
    QSize declared(int(std::min<qint64>(std::abs(qint64(stored.width())), INT_MAX)),
                   int(std::min<qint64>(std::abs(qint64(stored.height())), INT_MAX)));
    if (source.facts.gifScreen)
        declared = declared.expandedTo(*source.facts.gifScreen);
    if (const qint64 bytes = WholeBytes(declared, reader.imageFormat(), source.facts.webpAnimated);
        bytes > LimitBytes())
        throw TooLarge(path, bytes, LimitBytes());
    QImage whole;
    if (source.facts.type == PictureType::Bmp)
        whole = DecodeBmp(source, declared, path);
    else if (!reader.read(&whole) || whole.isNull())
        throw LoadFailure(reader, path);
    CompleteColourTable(whole);
    if (const qint64 bytes = WholeBytes(whole.size(), whole.format()); bytes > LimitBytes())
        throw TooLarge(path, bytes, LimitBytes());
    return whole;
}

// Qt's BMP reader leaves the pixels a file does not give as it finds them: the rows of a file cut
// short, those an RLE run jumps over or never reaches. It decodes into the image it is handed when
// that has the picture's size and format, so the picture is decoded onto black.
QImage PictureHolder::DecodeBmp(Source& source, QSize size, const QString& path) const
{
    QImageReader& reader = source.reader;
    // Into `image` from the file's start, filled with `fill` first; false when the reader made an
    // image of its own (it reports RGB32 for some BMPs with alpha it decodes as ARGB32).
    const auto decodeOnto = [&](QImage& image, uint fill) {
        if (image.isNull())
            throw RuntimeError(ErrorCode::InvalidPicture, QStringLiteral("out of memory"));
        image.fill(fill);
        const uchar* const bits = image.constBits();
        if (!source.file.seek(0))
            throw RuntimeError(ErrorCode::DeviceIO, QStringLiteral("cannot read picture \"%1\"").arg(path));
        reader.setDevice(&source.file);
        if (!reader.read(&image) || image.isNull())
            throw LoadFailure(reader, path);
        return image.constBits() == bits;
    };
    QImage::Format format = reader.imageFormat();
    QImage image(size, format);
    if (!decodeOnto(image, BlackFill(format))) {
        format = image.format();
        image = QImage(image.size(), format);
        if (!decodeOnto(image, BlackFill(format)))
            throw RuntimeError(ErrorCode::InvalidPicture,
                               QStringLiteral("cannot load picture \"%1\": undecidable format").arg(path));
    }
    const bool indexed = format == QImage::Format_Indexed8 || format == QImage::Format_Mono;
    if (!indexed || image.colorCount() <= int(BlackFill(format)))
        return image;

    // Every index has a colour, the fill's too. Decoded again onto another fill, the pixels the file
    // left are those where the two differ: black in a 32-bit copy.
    QImage left(image.size(), QImage::Format_Mono);
    {
        QImage other(image.size(), format);
        if (!decodeOnto(other, 0) || left.isNull())
            throw RuntimeError(ErrorCode::InvalidPicture, QStringLiteral("out of memory"));
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                left.setPixel(x, y, image.pixelIndex(x, y) != other.pixelIndex(x, y));
    }
    image = std::move(image).convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (left.pixelIndex(x, y))
                row[x] = qRgb(0, 0, 0);
    }
    return image;
}

PictureHolder::Part PictureHolder::Decode(QSize target, const QRect& part, QImage buffer)
{
    Part decoded = DecodeAsStored(target, part, std::move(buffer));
    if (!ConvertsColours() || decoded.converted)
        return decoded;
    // Converted in place where the pixels are the frame's own; the whole picture decoded at
    // loading, or pixels of another format, only for the part that shows.
    QImage& image = decoded.image;
    const bool own = image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32;
    if (!own || (!m_whole.isNull() && image.constBits() == m_whole.constBits())) {
        image = image.copy(decoded.source)
                    .convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        decoded.source = image.rect();
    }
    ConvertColours(image, decoded.source, m_colours, m_screenProfile);
    return decoded;
}

PictureHolder::Part PictureHolder::DecodeAsStored(QSize target, const QRect& part, QImage buffer)
{
    if (IsEmpty())
        throw RuntimeError(ErrorCode::InvalidPicture, QStringLiteral("no picture loaded"));
    if (!m_whole.isNull())
        return ScaleWhole(target, part);
    if (m_source && m_source->heif)
        return DecodeHeif(*m_source->heif, target, part, std::move(buffer));
    std::unique_ptr<Source> source = TakeSource();
    if (source->facts.jpeg) {
        std::optional<Part> decoded = DecodeJpegRegion(target, part, buffer);
        if (!decoded)
            decoded = DecodeJpegReduced(target, part, buffer);
        if (decoded)
            return std::move(*decoded);
    }
    return DecodeByReader(source->reader, target, part, std::move(buffer));
}

PictureHolder::Part PictureHolder::ScaleWhole(QSize target, const QRect& part) const
{
    if (target == m_size)
        return Part{m_whole, part};
    if (part == QRect(QPoint(0, 0), target))
        return Part{m_whole.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), part};
    const Piece piece = PieceOf(part, target, m_size);
    return Part{
        m_whole.copy(piece.source).scaled(piece.size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
        piece.within};
}

// The reader from Load is used once; drawing the same picture again reads the file again, which
// must still be the picture that was loaded.
std::unique_ptr<PictureHolder::Source> PictureHolder::TakeSource()
{
    if (m_source)
        return std::move(m_source);
    std::unique_ptr<Source> source = OpenSource(m_path);
    if (source->heif || !DecodesParts(source->reader) ||
        source->reader.transformation() != m_transformation ||
        Upright(CheckParts(*source, m_path), m_transformation) != m_size)
        throw RuntimeError(ErrorCode::InvalidPicture,
                           QStringLiteral("picture \"%1\" changed since it was loaded").arg(m_path));
    return source;
}

namespace {
// Whether libjpeg-turbo decoded the picture; false where it leaves it to Qt's reader.
bool JpegDone(JpegDecoder::Result result, const QString& path, const QString& why)
{
    switch (result) {
    case JpegDecoder::Result::Done:
        return true;
    case JpegDecoder::Result::Failed:
        throw RuntimeError(ErrorCode::InvalidPicture,
                           QStringLiteral("cannot load picture \"%1\": %2").arg(path, why));
    case JpegDecoder::Result::NotHandled:
        break;
    }
    return false;
}
} // namespace

// An upright JPEG at its own size (the full-screen case) goes straight to libjpeg-turbo: it skips
// the rows above the part instead of decoding and discarding them, stops after the part, and
// writes the window's pixel format, so nothing is converted or copied afterwards.
std::optional<PictureHolder::Part> PictureHolder::DecodeJpegRegion(QSize target, const QRect& part,
                                                                   QImage& buffer) const
{
    if (target != m_size || m_transformation != QImageIOHandler::TransformationNone ||
        buffer.format() != QImage::Format_RGB32 || buffer.size() != part.size())
        return std::nullopt;
    // Colours converted band by band on another thread while the decoder goes on.
    std::optional<RowConverter> converter;
    if (ConvertsColours())
        converter.emplace(buffer, m_colours, m_screenProfile);
    const auto ready = [&converter](int rows) {
        converter->Ready(rows);
    };
    QString why;
    if (!JpegDone(JpegDecoder::DecodeRegion(m_path, part, buffer, LimitBytes(), &why,
                                            converter ? std::function<void(int)>(ready) : nullptr),
                  m_path, why))
        return std::nullopt;
    const bool converted = converter && converter->Finish();
    return Part{std::move(buffer), QRect(QPoint(0, 0), part.size()), converted};
}

// FitLargePictures: reduced as stored, then turned upright; straight into the window's image
// when there is nothing to turn.
std::optional<PictureHolder::Part> PictureHolder::DecodeJpegReduced(QSize target, const QRect& part,
                                                                    QImage& buffer) const
{
    const QRect whole(QPoint(0, 0), target);
    if (!m_reduceInSteps || part != whole || target.width() > m_size.width() ||
        target.height() > m_size.height())
        return std::nullopt;
    const bool direct = m_transformation == QImageIOHandler::TransformationNone &&
                        buffer.format() == QImage::Format_RGB32 && buffer.size() == target;
    QImage turned;
    if (!direct)
        turned = QImage(Upright(target, m_transformation), QImage::Format_RGB32);
    QString why;
    if (!JpegDone(JpegDecoder::DecodeReduced(m_path, direct ? buffer : turned, LimitBytes(), &why), m_path,
                  why))
        return std::nullopt;
    return Part{direct ? std::move(buffer) : TurnUpright(std::move(turned), m_transformation), whole};
}

// Qt's reader cuts and scales the picture as stored while it decodes, then turns it upright.
PictureHolder::Part PictureHolder::DecodeByReader(QImageReader& reader, QSize target, const QRect& part,
                                                  QImage buffer) const
{
    const auto stored = [this](const QRect& rect, QSize size) {
        return ToStored(rect, size, m_transformation);
    };
    if (target == m_size) {
        if (part != QRect(QPoint(0, 0), target))
            reader.setClipRect(stored(part, target));
    } else if (part == QRect(QPoint(0, 0), target)) {
        reader.setScaledSize(Upright(target, m_transformation));
    } else {
        const Piece piece = PieceOf(part, target, m_size);
        reader.setClipRect(stored(piece.source, m_size));
        reader.setScaledSize(Upright(piece.size, m_transformation));
        reader.setScaledClipRect(stored(piece.within, piece.size));
    }
    if (!reader.read(&buffer) || buffer.isNull())
        throw LoadFailure(reader, m_path);
    return Part{std::move(buffer), QRect(QPoint(0, 0), part.size())};
}

PictureHolder::Part PictureHolder::DecodeHeif(HeifDecoder& heif, QSize target, const QRect& part,
                                              QImage buffer)
{
    heif.Decode();
    const QRect whole(QPoint(0, 0), target);
    const bool intoBuffer = buffer.format() == QImage::Format_RGB32 && buffer.size() == part.size();
    // At its own size (full screen): only the part that shows, straight into the window's image.
    if (target == m_size) {
        QImage into = intoBuffer ? std::move(buffer) : QImage(part.size(), QImage::Format_RGB32);
        if (into.isNull())
            throw RuntimeError(ErrorCode::InvalidPicture, QStringLiteral("out of memory"));
        heif.DrawRegion(part, into);
        return Part{std::move(into), QRect(QPoint(0, 0), part.size())};
    }
    // Reduced whole (a preview, FitLargePictures): averaged down row by row.
    if (part == whole && target.width() <= m_size.width() && target.height() <= m_size.height()) {
        QImage into = intoBuffer ? std::move(buffer) : QImage(target, QImage::Format_RGB32);
        if (into.isNull())
            throw RuntimeError(ErrorCode::InvalidPicture, QStringLiteral("out of memory"));
        heif.DrawReduced(into);
        return Part{std::move(into), whole};
    }
    // Enlarged, or reduced and cut: the piece that shows, scaled.
    const Piece piece = PieceOf(part, target, m_size);
    QImage source(piece.source.size(), QImage::Format_RGB32);
    if (source.isNull())
        throw RuntimeError(ErrorCode::InvalidPicture, QStringLiteral("out of memory"));
    heif.DrawRegion(piece.source, source);
    return Part{source.scaled(piece.size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), piece.within};
}

} // namespace vb
