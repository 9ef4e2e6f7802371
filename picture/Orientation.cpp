#include "picture/Orientation.h"

#include <QTransform>

namespace vb {

bool QuarterTurn(QImageIOHandler::Transformations transformation)
{
    return transformation.testFlag(QImageIOHandler::TransformationRotate90);
}

QSize Upright(QSize size, QImageIOHandler::Transformations transformation)
{
    return QuarterTurn(transformation) ? size.transposed() : size;
}

// Undoes the reader's steps in reverse: the quarter turn, then the flip, then the mirror.
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

QImage TurnUpright(QImage image, QImageIOHandler::Transformations transformation)
{
    const bool mirror = transformation.testFlag(QImageIOHandler::TransformationMirror);
    const bool flip = transformation.testFlag(QImageIOHandler::TransformationFlip);
    if (mirror || flip)
        image = std::move(image).mirrored(mirror, flip);
    return QuarterTurn(transformation) ? image.transformed(QTransform().rotate(90)) : image;
}

} // namespace vb
