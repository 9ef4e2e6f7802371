#include "config/ProgramIcon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace vb {

QImage ProgramIconImage()
{
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(Qt::black);
    QSvgRenderer renderer(QStringLiteral(":/vellumbright.svg"));
    if (renderer.isValid()) {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, 64, 64));
    }
    return image.convertToFormat(QImage::Format_RGB888);
}

QIcon ProgramIcon()
{
    return QIcon(QPixmap::fromImage(ProgramIconImage()));
}

} // namespace vb
