#include "PictureFiles.h"

#include "TestSupport.h"

#include <QBuffer>
#include <QPainter>
#include <QProcess>
#include <QtEndian>
#include <cstdlib>

namespace vbtest {

QImage Solid(QSize size, const QColor& colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

namespace {
QImage FourParts(QSize size, const QColor (&colours)[4])
{
    QImage image(size, QImage::Format_RGB32);
    const int w = size.width() / 2;
    const int h = size.height() / 2;
    QPainter painter(&image);
    painter.fillRect(0, 0, w, h, colours[0]);
    painter.fillRect(w, 0, size.width() - w, h, colours[1]);
    painter.fillRect(0, h, w, size.height() - h, colours[2]);
    painter.fillRect(w, h, size.width() - w, size.height() - h, colours[3]);
    return image;
}
} // namespace

QImage Quadrants(QSize size)
{
    return FourParts(size, {Qt::red, Qt::green, Qt::blue, Qt::yellow});
}

QImage Checkerboard(QSize size)
{
    QImage image = Solid(size, Qt::white);
    for (int y = 0; y < size.height(); ++y)
        for (int x = (y + 1) % 2; x < size.width(); x += 2)
            image.setPixel(x, y, qRgb(128, 128, 128));
    return image;
}

QImage GreyQuadrants(QSize size)
{
    return FourParts(
        size, {QColor(60, 60, 60), QColor(120, 120, 120), QColor(180, 180, 180), QColor(240, 240, 240)});
}

bool SavePicture(const QString& path, const QImage& image, const char* format, int quality)
{
    if (qstrcmp(format, "gif") == 0)
        return SavePicture(path + ".png", image, "png") &&
               QProcess::execute("convert", {path + ".png", path}) == 0;
    if (qstrcmp(format, "grey.jpg") == 0)
        return SavePicture(path, image.convertToFormat(QImage::Format_Grayscale8), "jpg", quality);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, format, quality) && WriteFile(path, bytes);
}

QByteArray JpegWithOrientation(const QImage& image, int orientation)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "jpg", 100);

    // APP1 "Exif": a big-endian TIFF header and one IFD with the Orientation tag (0x0112, SHORT).
    QByteArray tiff("MM\x00\x2a\x00\x00\x00\x08", 8);
    tiff += QByteArray("\x00\x01", 2);
    tiff += QByteArray("\x01\x12\x00\x03\x00\x00\x00\x01", 8);
    tiff += char(0);
    tiff += char(orientation);
    tiff += QByteArray(2, '\0');
    tiff += QByteArray(4, '\0');
    QByteArray app1("\xff\xe1", 2);
    const quint16 length = quint16(2 + 6 + tiff.size());
    app1 += char(length >> 8);
    app1 += char(length & 0xff);
    app1 += QByteArray("Exif\x00\x00", 6);
    app1 += tiff;
    return jpeg.left(2) + app1 + jpeg.mid(2);
}

QByteArray GifWithCanvas(QSize canvas)
{
    QByteArray gif("GIF89a");
    auto little = [&gif](int value) {
        gif += char(value & 0xff);
        gif += char((value >> 8) & 0xff);
    };
    little(canvas.width());
    little(canvas.height());
    gif += QByteArray("\x80\x00\x00", 3);             // global colour table of 2 entries
    gif += QByteArray("\xff\x00\x00\x00\x00\x00", 6); // red, black
    gif += ',';
    little(0);
    little(0);
    little(1);
    little(1);
    gif += char(0);
    gif += QByteArray("\x02\x02\x44\x01\x00", 5); // LZW: clear code, index 0, end code
    gif += ';';
    return gif;
}

bool Near(QRgb a, QRgb b, int tolerance)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

} // namespace vbtest
