#pragma once

#include "picture/Canvas.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QSize>
#include <functional>

namespace vb {

// The persistent image of a window (`AutoRedraw`): every drawing goes into it, and the window
// repaints from it. It holds device pixels, so pictures keep one picture pixel to one device
// pixel; twips map to logical pixels, 15 to one.
class ImageCanvas final : public Canvas
{
public:
    ImageCanvas();

    // Switches the image on at a window's size (logical pixels) and device-pixel ratio, and at
    // `deviceSize` where the window has one (at a fractional ratio the logical size times the
    // ratio can miss the window's device pixels by one); else at that product rounded up. What
    // was drawn stays at the top-left; new area gets the back colour. `devicePixelsPerPixel`: how
    // many of the monitor's device pixels one pixel of the image covers where the monitor shows
    // it reduced (a compositor's fractional scale); a picture's own size is in device pixels.
    // `makeImage`, where given, makes the new image (of that size, Format_RGB32) in memory of the
    // caller's, which the frame then leaves in.
    using ImageMaker = std::function<QImage(QSize)>;
    void Resize(QSize logicalSize, qreal devicePixelRatio, QSize deviceSize = QSize(),
                qreal devicePixelsPerPixel = 1.0, const ImageMaker& makeImage = {});
    // The ICC profile of the monitor the canvas shows on (empty: sRGB), which pictures' colours
    // are converted to.
    void SetScreenProfile(const QByteArray& profile) { m_screenProfile = profile; }
    const QByteArray& ScreenProfile() const { return m_screenProfile; }
    // Dots per inch of the window's logical pixels, for the font's point size.
    void SetLogicalDpi(qreal dpi);

    const QImage& Image() const { return m_image; }
    // The same size and settings, with no image: a canvas to draw a frame on elsewhere, which
    // gets its image at its first Resize.
    ImageCanvas WithoutImage() const;
    // The size and ratios of Resize, with no image: a canvas that gets its image at its first
    // Resize, as one from WithoutImage does.
    void SetSizeWithoutImage(QSize logicalSize, qreal devicePixelRatio, QSize deviceSize,
                             qreal devicePixelsPerPixel);
    // `Cls` followed by drawing `frame` whole, in one step: the frame becomes the image. It has the
    // image's size.
    void ShowFrame(QImage frame);
    QSize LogicalSize() const { return m_logicalSize; }
    QSize DeviceSize() const { return m_deviceSize; }
    qreal DevicePixelRatio() const { return m_devicePixelRatio; }
    qreal DevicePixelsPerPixel() const { return m_devicePixelsPerPixel; }

    void SetFont(const QFont& font) { m_font = font; }
    const QFont& Font() const { return m_font; }
    void SetForeColor(RuntimeColour colour);
    void SetBackColor(RuntimeColour colour);

    float ScaleWidth() const override;
    float ScaleHeight() const override;
    void Cls() override;
    void PaintPicture(PictureHolder& picture, float left, float top) override;
    void PaintPicture(PictureHolder& picture, float left, float top, float width, float height) override;
    int DrawWidth() const override { return m_drawWidth; }
    void SetDrawWidth(int pixels) override;
    void Line(float x1, float y1, float x2, float y2, RuntimeColour colour) override;
    float CurrentX() const override { return m_currentX; }
    float CurrentY() const override { return m_currentY; }
    void SetCurrentX(float x) override { m_currentX = x; }
    void SetCurrentY(float y) override { m_currentY = y; }
    void Print(const QString& text) override;
    void PrintOutlined(const QString& text) override;

    static QColor ToQColor(RuntimeColour colour);

private:
    double ToDevice(float twips) const;
    int ToDevicePixel(float twips) const;
    void DrawPicture(PictureHolder& picture, const QRect& target);
    void PrintLine(const QString& text, bool outlined);
    void ApplyDpi();

    QImage m_image;
    QSize m_logicalSize;
    QSize m_deviceSize;
    qreal m_devicePixelRatio = 1.0;
    qreal m_devicePixelsPerPixel = 1.0;
    qreal m_logicalDpi = 96.0;
    QByteArray m_screenProfile;
    QFont m_font;
    QColor m_foreColor = Qt::white;
    QColor m_backColor = Qt::black;
    int m_drawWidth = 1;
    float m_currentX = 0;
    float m_currentY = 0;
};

} // namespace vb
