#include "ScreenChecks.h"

#include "PictureFiles.h"

#include <QProcess>
#include <QProcessEnvironment>

namespace vbtest {

QImage Screenshot(const QString& window, const QString& display)
{
    QProcess import;
    if (!display.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        import.setProcessEnvironment(env);
    }
    import.start("import", {"-window", window, "png:-"});
    if (!import.waitForFinished(10000) || import.exitCode() != 0)
        return QImage();
    return QImage::fromData(import.readAllStandardOutput(), "png").convertToFormat(QImage::Format_RGB32);
}

bool Xdotool(const QStringList& arguments)
{
    return QProcess::execute("xdotool", arguments) == 0;
}

bool NearAt(const QImage& image, QPoint p, QRgb colour)
{
    return image.rect().contains(p) && Near(image.pixel(p), colour, 40);
}

bool ShowsQuadrants(const QImage& image, const QRect& rect)
{
    const int qx = rect.width() / 4, qy = rect.height() / 4;
    const QPoint c = rect.topLeft();
    return NearAt(image, c + QPoint(qx, qy), qRgb(255, 0, 0)) &&
           NearAt(image, c + QPoint(3 * qx, qy), qRgb(0, 255, 0)) &&
           NearAt(image, c + QPoint(qx, 3 * qy), qRgb(0, 0, 255)) &&
           NearAt(image, c + QPoint(3 * qx, 3 * qy), qRgb(255, 255, 0)) &&
           NearAt(image, rect.topLeft() + QPoint(-2, rect.height() / 2), qRgb(0, 0, 0)) &&
           NearAt(image, rect.topRight() + QPoint(2, rect.height() / 2), qRgb(0, 0, 0)) &&
           NearAt(image, rect.topLeft() + QPoint(rect.width() / 2, -2), qRgb(0, 0, 0)) &&
           NearAt(image, rect.bottomLeft() + QPoint(rect.width() / 2, 2), qRgb(0, 0, 0));
}

} // namespace vbtest
