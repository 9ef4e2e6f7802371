#pragma once

#include "picture/Colours.h"

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <memory>
#include <vector>

class QFile;

namespace vb {

// HEIC, HEIF and AVIF pictures, through libheif: the picture a HEIF file calls its primary one,
// turned, mirrored and cropped as the file says (its own 'irot', 'imir' and 'clap'; an EXIF
// orientation in such a file is not applied again), 10 bits and more brought down to 8, and a
// picture with transparency drawn over black.
//
// libheif reads the file through the open file it is given, never by name. It decodes a
// picture whole; the colours then go to the window's image only for the part that shows, or
// averaged down row by row when the picture is drawn reduced, so no 32-bit copy of the whole
// picture is ever made. PQ and HLG pictures (HDR) are tone-mapped to SDR as their samples are
// read (BT.2390's curve, ToneCurve). A picture made of a grid of tiles (as phones write their photos) is
// never decoded whole: each tile is handed to libheif as a file of its own when it is drawn,
// only the tiles that show at the picture's own size, every tile, one row of tiles at a time,
// when it is drawn reduced. Such a picture costs about what a row of its tiles takes, whatever
// its size.
class HeifDecoder
{
public:
    // Reads the file's boxes and the primary picture's header from `file`, which must stay open
    // until the decoder is gone. Throws RuntimeError InvalidPicture for a file libheif cannot
    // read; `path` names it in the message.
    HeifDecoder(QFile& file, const QString& path);
    ~HeifDecoder();
    HeifDecoder(const HeifDecoder&) = delete;
    HeifDecoder& operator=(const HeifDecoder&) = delete;

    // The upright size, as the picture shows; after Decode, the size it decoded to.
    QSize Size() const { return m_size; }

    // What decoding the picture holds at most, in bytes, told by its header (its coded size and
    // depth, whether it has alpha): the file's coded data, the decoder's frame and what it keeps
    // beside it, libheif's copy of that frame and the red, green and blue planes it makes of it.
    qint64 DecodeBytes() const;

    // What the picture's colours mean, from its colour property ('colr': an ICC profile or a
    // colour description).
    PictureColours Colours() const;

    // The picture's EXIF block as stored, from its TIFF header on; empty when it has none.
    QByteArray ExifBlock() const;

    // Decodes the picture, once; later calls keep what the first one decoded. Throws
    // RuntimeError InvalidPicture.
    void Decode();

    // After Decode. The rectangle `region` of the picture (inside it), at its own size, into
    // `into`: Format_RGB32, of the region's size, possibly sharing memory with a larger image.
    void DrawRegion(const QRect& region, QImage& into) const;
    // The whole picture reduced to the size of `into` (Format_RGB32, no larger than the picture
    // either way), each pixel the mean of the area it covers.
    void DrawReduced(QImage& into) const;

private:
    struct Pixels;
    struct Libheif;
    struct Tiles;
    // The tiles of the grid's row `row` that meet the columns [first, last], decoded.
    std::vector<std::unique_ptr<Pixels>> DecodeTiles(int row, int first, int last) const;
    std::unique_ptr<Pixels> DecodeTile(const QByteArray& file) const;
    void ToneMap(Pixels& pixels) const;
    void DrawTiledRegion(const QRect& region, QImage& into) const;
    void DrawTiledReduced(QImage& into) const;

    QString m_path;
    QFile& m_file;
    std::unique_ptr<Libheif> m_heif;
    std::unique_ptr<Tiles> m_tiles;
    QSize m_size;
    QSize m_turned; // the size the file's turns give its coded size, in the order it lists them
    QSize m_coded;  // the size of the coded frame, before the file's crop and turns
    qint64 m_fileBytes = 0;
    int m_sampleBytes = 1;
    bool m_alpha = false;
    bool m_decoded = false;
    std::unique_ptr<Pixels> m_whole;
    std::vector<uchar> m_toneCurve; // PQ and HLG: each code's 8-bit value, tone-mapped
};

} // namespace vb
