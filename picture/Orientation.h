#pragma once

#include <QImage>
#include <QImageIOHandler>
#include <QRect>
#include <QSize>

namespace vb {

// The geometry of the orientation a camera stores in a photo, as Qt's readers apply it: the
// picture as stored is mirrored, then flipped, then turned a quarter clockwise to stand upright.

bool QuarterTurn(QImageIOHandler::Transformations transformation);

// The size a picture stored at `size` has upright; the other way round it is the same.
QSize Upright(QSize size, QImageIOHandler::Transformations transformation);

// The reader cuts and scales the picture as stored in the file, before it turns it upright:
// maps a rectangle of the upright picture (of size `upright`) back to the stored one.
QRect ToStored(const QRect& rect, QSize upright, QImageIOHandler::Transformations transformation);

// The picture as the reader turns it upright, for an image decoded as stored.
QImage TurnUpright(QImage image, QImageIOHandler::Transformations transformation);

} // namespace vb
