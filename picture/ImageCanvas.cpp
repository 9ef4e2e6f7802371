#include "picture/ImageCanvas.h"

#include "picture/ElideMiddle.h"
#include "picture/PictureHolder.h"
#include "platform/runtime/RuntimeError.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace vb {

namespace {
constexpr double InchesPerMetre = 1.0 / 0.0254;
// Far beyond any screen, yet well inside int: positions are clamped to it before rounding.
constexpr double DeviceLimit = 1.0e8;
} // namespace

ImageCanvas::ImageCanvas() = default;

QColor ImageCanvas::ToQColor(RuntimeColour colour)
{
    return QColor(colour & 0xff, (colour >> 8) & 0xff, (colour >> 16) & 0xff);
}

void ImageCanvas::SetForeColor(RuntimeColour colour)
{
    m_foreColor = ToQColor(colour);
}

void ImageCanvas::SetBackColor(RuntimeColour colour)
{
    m_backColor = ToQColor(colour);
}

void ImageCanvas::SetLogicalDpi(qreal dpi)
{
    m_logicalDpi = dpi > 0 ? dpi : 96.0;
    ApplyDpi();
}

void ImageCanvas::ApplyDpi()
{
    if (m_image.isNull())
        return;
    // The image is in device pixels, so its dots per inch are the logical ones times the ratio;
    // a font's point size then gives the same size as on the window.
    const int dotsPerMetre = int(std::lround(m_logicalDpi * m_devicePixelRatio * InchesPerMetre));
    m_image.setDotsPerMeterX(dotsPerMetre);
    m_image.setDotsPerMeterY(dotsPerMetre);
}

void ImageCanvas::Resize(QSize logicalSize, qreal devicePixelRatio, QSize deviceSize,
                         qreal devicePixelsPerPixel, const ImageMaker& makeImage)
{
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    m_devicePixelsPerPixel = devicePixelsPerPixel > 0 ? devicePixelsPerPixel : 1.0;
    const QSize logical = logicalSize.expandedTo(QSize(0, 0));
    const QSize device = deviceSize.isValid() ? deviceSize
                                              : QSize(int(std::ceil(logical.width() * ratio)),
                                                      int(std::ceil(logical.height() * ratio)));
    m_logicalSize = logical;
    m_deviceSize = device;
    m_devicePixelRatio = ratio;
    if (device == m_image.size() && !m_image.isNull())
        return;
    QImage resized;
    if (!device.isEmpty()) {
        if (makeImage)
            resized = makeImage(device);
        if (resized.size() != device || resized.format() != QImage::Format_RGB32)
            resized = QImage(device, QImage::Format_RGB32);
        resized.fill(m_backColor);
        if (!m_image.isNull()) {
            QPainter painter(&resized);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage(QPoint(0, 0), m_image);
        }
    }
    m_image = std::move(resized);
    ApplyDpi();
}

ImageCanvas ImageCanvas::WithoutImage() const
{
    ImageCanvas canvas(*this);
    canvas.m_image = QImage();
    return canvas;
}

void ImageCanvas::SetSizeWithoutImage(QSize logicalSize, qreal devicePixelRatio, QSize deviceSize,
                                      qreal devicePixelsPerPixel)
{
    m_image = QImage();
    m_logicalSize = logicalSize.expandedTo(QSize(0, 0));
    m_deviceSize = deviceSize;
    m_devicePixelRatio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    m_devicePixelsPerPixel = devicePixelsPerPixel > 0 ? devicePixelsPerPixel : 1.0;
}

void ImageCanvas::ShowFrame(QImage frame)
{
    m_image = std::move(frame);
    ApplyDpi();
    m_currentX = 0;
    m_currentY = 0;
}

float ImageCanvas::ScaleWidth() const
{
    return float(m_logicalSize.width() * TwipsPerPixel);
}

float ImageCanvas::ScaleHeight() const
{
    return float(m_logicalSize.height() * TwipsPerPixel);
}

double ImageCanvas::ToDevice(float twips) const
{
    const double pixels = double(twips) / TwipsPerPixel * m_devicePixelRatio;
    if (!std::isfinite(pixels))
        throw RuntimeError(ErrorCode::Overflow, QStringLiteral("a drawing position is not a number"));
    return std::clamp(pixels, -DeviceLimit, DeviceLimit);
}

int ImageCanvas::ToDevicePixel(float twips) const
{
    // Halves round up, the same way on both sides of zero.
    return int(std::floor(ToDevice(twips) + 0.5));
}

void ImageCanvas::Cls()
{
    if (!m_image.isNull())
        m_image.fill(m_backColor);
    m_currentX = 0;
    m_currentY = 0;
}

void ImageCanvas::PaintPicture(PictureHolder& picture, float left, float top)
{
    // One picture pixel to one device pixel: where the monitor reduces the image, the picture is
    // drawn larger by as much.
    QSize own = picture.PixelSize();
    if (m_devicePixelsPerPixel != 1.0)
        own = QSize(int(std::lround(own.width() / m_devicePixelsPerPixel)),
                    int(std::lround(own.height() / m_devicePixelsPerPixel)));
    DrawPicture(picture, QRect(QPoint(ToDevicePixel(left), ToDevicePixel(top)), own));
}

void ImageCanvas::PaintPicture(PictureHolder& picture, float left, float top, float width, float height)
{
    DrawPicture(picture,
                QRect(ToDevicePixel(left), ToDevicePixel(top), ToDevicePixel(width), ToDevicePixel(height)));
}

void ImageCanvas::DrawPicture(PictureHolder& picture, const QRect& target)
{
    if (m_image.isNull() || target.isEmpty())
        return;
    const QRect visible = target.intersected(m_image.rect());
    if (visible.isEmpty())
        return;

    // The decoder writes straight into the visible rectangle of the image where it can; this
    // image shares that memory and must be the only one holding it while the decoder runs.
    uchar* first = m_image.bits() + qsizetype(visible.y()) * m_image.bytesPerLine() + visible.x() * 4;
    QImage region(first, visible.width(), visible.height(), m_image.bytesPerLine(), m_image.format());
    try {
        const PictureHolder::Part decoded =
            picture.Decode(target.size(), visible.translated(-target.topLeft()), std::move(region));
        if (decoded.image.constBits() != first) {
            QPainter painter(&m_image);
            painter.drawImage(visible.topLeft(), decoded.image, decoded.source);
        }
    } catch (...) {
        // A decoder that failed half-way may have written part of the picture.
        QPainter painter(&m_image);
        painter.fillRect(visible, m_backColor);
        throw;
    }
}

void ImageCanvas::SetDrawWidth(int pixels)
{
    m_drawWidth = std::max(1, pixels);
}

void ImageCanvas::Line(float x1, float y1, float x2, float y2, RuntimeColour colour)
{
    const QPointF from(ToDevice(x1), ToDevice(y1));
    const QPointF to(ToDevice(x2), ToDevice(y2));
    if (m_image.isNull())
        return;
    QPainter painter(&m_image);
    QPen pen(ToQColor(colour));
    pen.setWidthF(m_drawWidth * m_devicePixelRatio);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    painter.drawLine(from, to);
}

void ImageCanvas::Print(const QString& text)
{
    PrintLine(text, false);
}

void ImageCanvas::PrintOutlined(const QString& text)
{
    PrintLine(text, true);
}

void ImageCanvas::PrintLine(const QString& text, bool outlined)
{
    const QPointF at(ToDevice(m_currentX), ToDevice(m_currentY));
    if (!m_image.isNull()) {
        const QFontMetricsF metrics(m_font, &m_image);
        const QPointF baseline(at.x(), at.y() + metrics.ascent());
        QPainter painter(&m_image);
        painter.setFont(m_font);
        if (!outlined) {
            painter.setPen(m_foreColor);
            painter.drawText(baseline, text);
        } else {
            const QString shown = ElideMiddle(text, m_image.width() - at.x(), [&](QStringView part) {
                return metrics.horizontalAdvance(part.toString());
            });
            // The text in black one pixel off in each of the eight directions makes the outline;
            // the text itself goes on top. A pixel of the window is the device-pixel ratio here.
            const qreal pixel = m_devicePixelRatio;
            painter.setPen(ToQColor(RuntimeBlack));
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if (dx != 0 || dy != 0)
                        painter.drawText(baseline + QPointF(dx * pixel, dy * pixel), shown);
            painter.setPen(m_foreColor);
            painter.drawText(baseline, shown);
        }
        m_currentY += float(metrics.height() / m_devicePixelRatio * TwipsPerPixel);
    }
    m_currentX = 0;
}

} // namespace vb
