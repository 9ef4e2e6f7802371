#include "cover/PictureHolder.h"

#include "cover/Canvas.h"
#include "platform/JpegDecoder.h"
#include "platform/RuntimeError.h"

#include <QImageReader>

namespace vb {

namespace {

RuntimeError LoadFailure(const QImageReader& reader, const QString& path)
{
    const ErrorCode code = reader.error() == QImageReader::FileNotFoundError ? ErrorCode::FileNotFound
                                                                             : ErrorCode::InvalidPicture;
    return RuntimeError(code,
                        QStringLiteral("cannot load picture \"%1\": %2").arg(path, reader.errorString()));
}

// Only a reader that can both cut out and scale while decoding is worth deferring to.
bool DecodesParts(const QImageReader& reader)
{
    return reader.supportsOption(QImageIOHandler::ClipRect) &&
           reader.supportsOption(QImageIOHandler::ScaledSize) &&
           reader.supportsOption(QImageIOHandler::ScaledClipRect);
}

bool QuarterTurn(QImageIOHandler::Transformations transformation)
{
    return transformation.testFlag(QImageIOHandler::TransformationRotate90);
}

QSize Upright(QSize stored, QImageIOHandler::Transformations transformation)
{
    return QuarterTurn(transformation) ? stored.transposed() : stored;
}

// The reader cuts and scales the picture as stored in the file, before it turns it upright:
// maps a rectangle of the upright picture (of size `upright`) back to the stored one. The
// reader mirrors, then flips, then turns a quarter clockwise; this undoes it in reverse.
QRect ToStored(const QRect& rect, QSize upright, QImageIOHandler::Transformations transformation)
{
    QRect stored = rect;
    QSize size = upright;
    if (QuarterTurn(transformation)) {
        size = upright.transposed();
        stored = QRect(rect.y(), size.height() - rect.x() - rect.width(), rect.height(), rect.width());
    }
    if (transformation.testFlag(QImageIOHandler::TransformationFlip))
        stored.moveTop(size.height() - stored.y() - stored.height());
    if (transformation.testFlag(QImageIOHandler::TransformationMirror))
        stored.moveLeft(size.width() - stored.x() - stored.width());
    return stored;
}

} // namespace

void PictureHolder::ApplyDecodeLimit() const
{
    // Qt's limit is process-wide and checked where a decoder allocates its image; setting it
    // before every decode keeps it at this holder's value whatever the environment says
    // (QT_IMAGEIO_MAXALLOC).
    QImageReader::setAllocationLimit(m_decodeLimitMegabytes);
}

PictureHolder::PictureHolder(int decodeLimitMegabytes) : m_decodeLimitMegabytes(decodeLimitMegabytes) {}
PictureHolder::~PictureHolder() = default;

std::unique_ptr<QImageReader> PictureHolder::OpenReader(const QString& path) const
{
    auto reader = std::make_unique<QImageReader>(path);
    reader->setAutoTransform(true);
    return reader;
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
    std::unique_ptr<QImageReader> reader = OpenReader(path);
    const QSize stored = reader->size();
    if (!stored.isValid() || stored.isEmpty())
        throw LoadFailure(*reader, path);

    if (DecodesParts(*reader)) {
        const QImageIOHandler::Transformations transformation = reader->transformation();
        m_whole = QImage();
        m_reader = std::move(reader);
        m_transformation = transformation;
        m_size = Upright(stored, transformation);
        m_path = path;
        return;
    }

    // The size in some headers is not the size of the decoded picture (a GIF's first frame may
    // be smaller than its canvas), so the own size comes from the decoded picture.
    QImage whole;
    ApplyDecodeLimit();
    if (!reader->read(&whole) || whole.isNull())
        throw LoadFailure(*reader, path);
    m_reader.reset();
    m_whole = std::move(whole);
    m_transformation = QImageIOHandler::TransformationNone;
    m_size = m_whole.size();
    m_path = path;
}

PictureHolder::Part PictureHolder::Decode(QSize target, const QRect& part, QImage buffer)
{
    if (IsEmpty())
        throw RuntimeError(ErrorCode::InvalidPicture, QStringLiteral("no picture loaded"));

    if (!m_whole.isNull()) {
        if (target == m_size)
            return Part{m_whole, part};
        return Part{m_whole.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), part};
    }

    // The reader from Load is used once; drawing the same picture again reads the file again.
    std::unique_ptr<QImageReader> reader = m_reader ? std::move(m_reader) : OpenReader(m_path);
    const QRect whole(QPoint(0, 0), target);

    // An upright JPEG at its own size (the full-screen case) goes straight to libjpeg-turbo: it
    // skips the rows above the part instead of decoding and discarding them, stops after the
    // part, and writes the window's pixel format, so nothing is converted or copied afterwards.
    if (target == m_size && m_transformation == QImageIOHandler::TransformationNone &&
        reader->format() == "jpeg" && buffer.format() == QImage::Format_RGB32 &&
        buffer.size() == part.size()) {
        QString why;
        switch (JpegDecoder::DecodeRegion(m_path, part, buffer, qint64(m_decodeLimitMegabytes) * 1024 * 1024,
                                          &why)) {
        case JpegDecoder::Result::Done:
            return Part{std::move(buffer), QRect(QPoint(0, 0), part.size())};
        case JpegDecoder::Result::Failed:
            throw RuntimeError(ErrorCode::InvalidPicture,
                               QStringLiteral("cannot load picture \"%1\": %2").arg(m_path, why));
        case JpegDecoder::Result::NotHandled:
            break;
        }
    }

    if (target == m_size) {
        if (part != whole)
            reader->setClipRect(ToStored(part, target, m_transformation));
    } else {
        reader->setScaledSize(QuarterTurn(m_transformation) ? target.transposed() : target);
        if (part != whole)
            reader->setScaledClipRect(ToStored(part, target, m_transformation));
    }
    ApplyDecodeLimit();
    if (!reader->read(&buffer) || buffer.isNull())
        throw LoadFailure(*reader, m_path);
    return Part{std::move(buffer), QRect(QPoint(0, 0), part.size())};
}

} // namespace vb
