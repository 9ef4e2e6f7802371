#pragma once

#include <QByteArray>
#include <QDate>

class QIODevice;

namespace vb {

// The date a photo was taken, as its camera stored it in the EXIF tag DateTimeOriginal, read
// with libexif. An invalid date when the picture has no such tag or no EXIF block, or when the
// tag holds no real date (cameras without a clock write "0000:00:00 00:00:00").

// From a JPEG's APP1 block, read from the device's current position (the start of the file):
// only the segments before that block are read.
QDate JpegDateTaken(QIODevice& device);

// From an EXIF block: a TIFF header and what follows it, with or without the "Exif\0\0" that
// precedes it in a JPEG.
QDate ExifBlockDateTaken(const QByteArray& block);

} // namespace vb
