#pragma once

#include "picture/Colours.h"

#include <QDate>
#include <QImage>
#include <QImageIOHandler>
#include <QRect>
#include <QSize>
#include <QString>
#include <memory>
#include <optional>

class QImageReader;

namespace vb {

class HeifDecoder;

// `picHidden`: the invisible picture holder each picture of the slideshow is loaded into, one
// for each frame the slide tick's loader makes (RenderFrame).
//
// Loading reads the file's header. The picture's kind comes from its first bytes, not from its
// name: JPEG, PNG, GIF, BMP, WebP and TIFF go to Qt's readers, HEIC, HEIF and AVIF to
// HeifDecoder, and anything else is no picture. From then on the holder reports the picture's own
// size, upright (the orientation a camera stores in a photo is applied, once). A picture is
// decoded only as far as it will be seen: a JPEG, whose decoder can cut out a rectangle and
// scale while it decodes, waits until it is drawn and then decodes just the visible part at the
// drawn size, so a 24-megapixel photo on a smaller screen never occupies its full size in
// memory. A HEIF picture is decoded whole when loaded, but only the part that shows becomes
// pixels of the window, when it is drawn. Pictures of the other kinds are decoded whole when
// loaded (an animated one: its first frame). Transparent parts show what lies below: black.
//
// The decode limit bounds the memory one picture takes: a picture whose header already says it
// would need more is refused before any decoder allocates for it. Only regular files are read.
class PictureHolder
{
public:
    // A decode that would need more memory than this fails like a corrupt file: the decoded
    // picture, a 32-bit copy of it where it has fewer or more bits per pixel (drawing makes one),
    // and what a JPEG decoder holds of the whole picture while it works.
    static constexpr int DefaultDecodeLimitMegabytes = 256;

    explicit PictureHolder(int decodeLimitMegabytes = DefaultDecodeLimitMegabytes);
    // Qt's readers refuse to allocate an image beyond one limit for the whole process, the last
    // guard for what a header does not tell. It is DefaultDecodeLimitMegabytes from the moment
    // the application object exists; a holder's own limit, checked against the headers before
    // any decoder allocates, may only be lower. Call this only on the main thread before any
    // picture decodes (a program that wants another limit for all its holders).
    static void SetQtDecodeLimit(int megabytes);
    ~PictureHolder();
    PictureHolder(const PictureHolder&) = delete;
    PictureHolder& operator=(const PictureHolder&) = delete;

    // The ratio of device pixels to logical pixels of the window the pictures are shown in;
    // a picture's size in twips depends on it.
    void SetDevicePixelRatio(qreal ratio);
    qreal DevicePixelRatio() const { return m_devicePixelRatio; }

    // FitLargePictures: a JPEG drawn reduced and whole is decoded by the decoder's own steps
    // (1/2, 1/4, 1/8) to the smallest size not below the drawn one, then reduced once more,
    // smoothly, to that size, row by row as it is decoded. Off (the default), Qt's reader
    // reduces it.
    void SetReduceInSteps(bool on) { m_reduceInSteps = on; }

    // The ICC profile of the monitor the picture shows on; empty: sRGB. A picture's colours are
    // converted from its own profile (or colour description) to this one as it is drawn, only
    // the pixels that show; a picture without one is taken as sRGB.
    void SetScreenProfile(const QByteArray& profile) { m_screenProfile = profile; }

    // Whether Load also reads the date the photo was taken (ShowDateTaken), from the EXIF block of
    // a JPEG or of a HEIF file.
    void SetReadDateTaken(bool on) { m_readDateTaken = on; }

    // `Picture = LoadPicture(path)`. Throws RuntimeError (FileNotFound, InvalidPicture) when the
    // file is missing, unreadable, no picture or too large; the previous picture then stays.
    void Load(const QString& path);

    bool IsEmpty() const { return m_size.isEmpty(); }
    const QString& Path() const { return m_path; }
    // EXIF's DateTimeOriginal of the picture loaded, when asked for; invalid when it has none.
    QDate DateTaken() const { return m_dateTaken; }
    // The own size in device pixels.
    QSize PixelSize() const { return m_size; }
    // `ScaleWidth`, `ScaleHeight`: the own size in twips, so that the picture shows one picture
    // pixel to one device pixel at any device-pixel ratio.
    float ScaleWidth() const;
    float ScaleHeight() const;

    struct Part
    {
        QImage image;
        QRect source;           // the rectangle of `image` to draw
        bool converted = false; // its colours already the screen's
    };
    // The rectangle `part` of the picture scaled to `target` device pixels (part in the scaled
    // picture's coordinates, inside it). When the decoder can fill `buffer` (an RGB32 image of
    // part's size) directly, it does, and the result shares buffer's memory; otherwise the result
    // is another image. Throws RuntimeError InvalidPicture when the picture cannot be decoded.
    Part Decode(QSize target, const QRect& part, QImage buffer);

private:
    struct Source;
    Part DecodeAsStored(QSize target, const QRect& part, QImage buffer);
    Part ScaleWhole(QSize target, const QRect& part) const;
    std::unique_ptr<Source> TakeSource();
    // libjpeg-turbo's own ways, where they apply; nothing where they leave the picture to Qt's
    // reader. `buffer` is taken only when the result is in it.
    std::optional<Part> DecodeJpegRegion(QSize target, const QRect& part, QImage& buffer) const;
    std::optional<Part> DecodeJpegReduced(QSize target, const QRect& part, QImage& buffer) const;
    Part DecodeByReader(QImageReader& reader, QSize target, const QRect& part, QImage buffer) const;
    void LoadHeif(std::unique_ptr<Source> source, const QString& path);
    void LoadParts(std::unique_ptr<Source> source, const QString& path);
    void KeepSource(std::unique_ptr<Source> source, QSize size,
                    QImageIOHandler::Transformations transformation);
    void LoadWhole(Source& source, const QString& path);
    QImage DecodeWhole(Source& source, const QString& path) const;
    std::unique_ptr<Source> OpenSource(const QString& path, bool readDateTaken = false) const;
    // The stored size of a picture decoded when drawn, after checking what its decoder will hold.
    QSize CheckParts(Source& source, const QString& path) const;
    QImage DecodeBmp(Source& source, QSize size, const QString& path) const;
    Part DecodeHeif(HeifDecoder& heif, QSize target, const QRect& part, QImage buffer);
    qint64 LimitBytes() const;
    // Whether the picture's colours are not the screen's as they are.
    bool ConvertsColours() const { return m_colours.Managed() || !m_screenProfile.isEmpty(); }

    int m_decodeLimitMegabytes;
    QString m_path;
    QSize m_size;
    qreal m_devicePixelRatio = 1.0;
    bool m_reduceInSteps = false;
    bool m_readDateTaken = false;
    QByteArray m_screenProfile;
    PictureColours m_colours;
    QDate m_dateTaken;
    // A picture decoded when drawn: its open file and reader (or HEIF decoder), header read, and
    // the stored orientation.
    std::unique_ptr<Source> m_source;
    QImageIOHandler::Transformations m_transformation = QImageIOHandler::TransformationNone;
    // A picture decoded whole when loaded.
    QImage m_whole;
};

} // namespace vb
