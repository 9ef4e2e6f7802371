#pragma once

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
// picture is ever made.
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

    // The upright size, as the picture shows.
    QSize Size() const { return m_size; }

    // What decoding the picture holds at most, in bytes, told by its header (its coded size and
    // depth, whether it has alpha): the file's coded data, the decoder's frame and what it keeps
    // beside it, libheif's copy of that frame and the red, green and blue planes it makes of it.
    qint64 DecodeBytes() const;

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
    struct Libheif;
    struct Plane
    {
        const uchar* data = nullptr;
        int stride = 0;
        int bits = 8;      // significant bits of a sample, 8 or more
        bool wide = false; // two bytes a sample
    };
    // One row of pixels from (x, y) on, `width` long, in 0xffRRGGBB over black; `scratch` holds
    // the row's samples on the way.
    void Row(int y, int x, int width, QRgb* out, std::vector<uchar>& scratch) const;
    static void Samples(const Plane& plane, int y, int x, int width, uchar* out);

    QString m_path;
    std::unique_ptr<Libheif> m_heif;
    QSize m_size;
    QSize m_coded; // the size of the coded frame, before the file's crop and turns
    qint64 m_fileBytes = 0;
    int m_sampleBytes = 1;
    bool m_alpha = false;
    bool m_premultiplied = false;
    bool m_decoded = false;
    bool m_monochrome = false;
    Plane m_red, m_green, m_blue, m_alphaPlane; // a grey picture has its grey in all three
};

} // namespace vb
