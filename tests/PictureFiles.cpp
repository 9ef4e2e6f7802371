#include "PictureFiles.h"

#include "TestSupport.h"
#include "picture/HeifBoxes.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstdlib>
#include <libheif/heif.h>

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
    if (qstrcmp(format, "heic") == 0 || qstrcmp(format, "avif") == 0)
        return QDir().mkpath(QFileInfo(path).path()) && SaveHeif(path, image, {qstrcmp(format, "avif") == 0});
    if (qstrcmp(format, "webp") == 0)
        quality = 100; // Qt's writer is lossless at 100
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

namespace {
// libheif writes no colour description for the alpha picture: the association of the alpha's
// 'pixi' (one channel) is pointed at the picture's nclx 'colr' instead, which keeps every box's
// size and every offset as they are.
bool DescribeAlpha(const QString& path)
{
    QByteArray file = ReadFile(path);
    const qsizetype ipco = file.indexOf("ipco"), ipma = file.indexOf("ipma");
    int index = 0, colr = 0, pixi = 0;
    for (qsizetype at = ipco + 4, size = 8; ipco > 0 && size >= 8 && at < ipma - 4; at += size) {
        size = qFromBigEndian<quint32>(file.constData() + at);
        const QByteArray type = file.mid(at + 4, 4);
        ++index;
        colr = type == "colr" ? index : colr;
        pixi = type == "pixi" && file[at + 12] == 1 ? index : pixi;
    }
    const qsizetype association = file.indexOf(char(0x80 | pixi), ipma); // an essential one
    if (!colr || !pixi || association < 0)
        return false;
    file[association] = char(colr);
    return WriteFile(path, file);
}
} // namespace

bool SaveHeif(const QString& path, const QImage& image, HeifOptions options)
{
    const bool alpha = image.hasAlphaChannel();
    const bool deep = options.bits > 8;
    const heif_chroma layout =
        deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
             : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image* picture = nullptr;
    if (heif_image_create(image.width(), image.height(), heif_colorspace_RGB, layout, &picture).code ||
        heif_image_add_plane(picture, heif_channel_interleaved, image.width(), image.height(), options.bits)
            .code)
        return false;
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
    const int channels = alpha ? 4 : 3;
    const QImage source = image.convertToFormat(deep ? QImage::Format_RGBA64 : QImage::Format_RGBA8888);
    for (int y = 0; y < image.height(); ++y) {
        const uchar* in = source.constScanLine(y);
        uchar* out = plane + qsizetype(y) * stride;
        for (int x = 0; x < image.width(); ++x)
            for (int c = 0; c < channels; ++c) {
                if (deep)
                    qToLittleEndian(
                        quint16(reinterpret_cast<const quint16*>(in)[x * 4 + c] >> (16 - options.bits)),
                        out + (x * channels + c) * 2);
                else
                    out[x * channels + c] = c == 3 && options.limitedAlpha
                                                ? uchar(16 + in[x * 4 + c] * 219 / 255)
                                                : in[x * 4 + c];
            }
    }
    const bool described =
        options.primaries != 2 || options.transfer != 2 || options.limitedRange || options.limitedAlpha;
    if (described) {
        heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
        heif_nclx_color_profile_set_color_primaries(nclx, uint16_t(options.primaries));
        heif_nclx_color_profile_set_transfer_characteristics(nclx, uint16_t(options.transfer));
        heif_nclx_color_profile_set_matrix_coefficients(nclx, 1);
        nclx->full_range_flag = !options.limitedRange && !options.limitedAlpha;
        heif_image_set_nclx_color_profile(picture, nclx);
        heif_nclx_color_profile_free(nclx);
    }
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_encoding_options* encoding = heif_encoding_options_alloc();
    encoding->image_orientation = heif_orientation(options.orientation);
    // libheif leaves out a colour description by default (macOS once misread one).
    encoding->macOS_compatibility_workaround_no_nclx_profile = !described;
    bool ok = heif_context_get_encoder_for_format(
                  context, options.avif ? heif_compression_AV1 : heif_compression_HEVC, &encoder)
                  .code == heif_error_Ok;
    if (ok) {
        // Fast, and close to the picture: the tests compare colours.
        heif_encoder_set_lossy_quality(encoder, 90);
        heif_encoder_set_parameter(encoder, options.avif ? "speed" : "preset",
                                   options.avif ? "9" : "ultrafast");
        ok = heif_context_encode_image(context, picture, encoder, encoding, nullptr).code == heif_error_Ok &&
             heif_context_write_to_file(context, QFile::encodeName(path).constData()).code == heif_error_Ok &&
             QFileInfo(path).size() > 0;
        heif_encoder_release(encoder);
    }
    heif_encoding_options_free(encoding);
    heif_context_free(context);
    heif_image_release(picture);
    return ok && (!options.limitedAlpha || DescribeAlpha(path));
}

QImage ReadReference(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QImage();
    const QByteArray start = file.read(12);
    if (start.mid(4, 4) != "ftyp") {
        QImageReader reader(path);
        reader.setAutoTransform(true);
        return reader.read();
    }
    QTemporaryDir dir;
    const QString png = dir.filePath("reference.png");
    QProcess convert;
    convert.start("heif-convert", {path, png});
    return convert.waitForFinished(60000) && convert.exitCode() == 0 ? QImage(png) : QImage();
}

bool SetDateTaken(const QString& path, const QString& dateTime)
{
    return QProcess::execute("exiftool",
                             {"-q", "-overwrite_original", "-DateTimeOriginal=" + dateTime, path}) == 0;
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

namespace vbtest {

namespace {
QByteArray Box(const char* type, const QByteArray& content)
{
    QByteArray size(4, '\0');
    qToBigEndian(quint32(8 + content.size()), size.data());
    return size + QByteArray(type, 4) + content;
}
QByteArray Be(quint64 value, int bytes)
{
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out += char((value >> (8 * i)) & 0xff);
    return out;
}
} // namespace

bool SaveTiledHeif(const QString& path, const QImage& image, TiledOptions options)
{
    const QSize tile = options.tile;
    const int columns = (image.width() + tile.width() - 1) / tile.width();
    const int rows = (image.height() + tile.height() - 1) / tile.height();
    // Each tile's configuration and coded data, from a file libheif writes of it alone.
    QHash<QByteArray, std::pair<QByteArray, QByteArray>> encoded;
    QList<std::pair<QByteArray, QByteArray>> tiles;
    QTemporaryDir dir;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            QImage part(tile, QImage::Format_RGB32);
            part.fill(Qt::black);
            QPainter(&part).drawImage(QPoint(0, 0), image,
                                      QRect(QPoint(c * tile.width(), r * tile.height()), tile));
            const QByteArray key(reinterpret_cast<const char*>(part.constBits()), part.sizeInBytes());
            if (!encoded.contains(key)) {
                const QString file = dir.filePath("tile.heic");
                QFile read(file);
                if (!SaveHeif(file, part, {options.avif}) || !read.open(QIODevice::ReadOnly))
                    return false;
                QString why;
                const auto boxes = vb::HeifBoxes::Read(read, &why);
                const vb::HeifBoxes::Property* configuration =
                    boxes ? boxes->FindProperty(boxes->Primary(), options.avif ? "av1C" : "hvcC") : nullptr;
                const auto data = boxes ? boxes->Data(read, boxes->Primary(), 1 << 26) : std::nullopt;
                if (!configuration || !data)
                    return false;
                encoded.insert(key, {configuration->box, *data});
            }
            tiles.append(encoded.value(key));
        }

    const char* const coded = options.avif ? "av01" : "hvc1";
    const QByteArray ftyp = options.avif ? Box("ftyp", QByteArray("avif") + Be(0, 4) + "mif1avif")
                                         : Box("ftyp", QByteArray("heic") + Be(0, 4) + "mif1heic");
    // Items: 1 the grid, 2.. the tiles, and, for an overlay, the overlay last (the primary one).
    const quint32 count = quint32(tiles.size());
    const quint32 overlay = count + 2;
    const quint32 primary = options.overlayAt ? overlay : 1;
    QByteArray ipco, ipma;
    int properties = 0;
    const auto property = [&](const QByteArray& box) {
        ipco += box;
        return ++properties;
    };
    const auto associate = [&](quint32 item, const QList<int>& indices) {
        ipma += Be(item, 2) + char(indices.size());
        for (const int index : indices)
            ipma += Be(quint32(index), 2);
    };
    const int tileSize =
        property(Box("ispe", Be(0, 4) + Be(quint32(tile.width()), 4) + Be(quint32(tile.height()), 4)));
    const int gridSize =
        property(Box("ispe", Be(0, 4) + Be(quint32(image.width()), 4) + Be(quint32(image.height()), 4)));
    // EXIF's orientations as turns (counter-clockwise quarters) and mirrors (0: left and right).
    const int turns[] = {0, 0, 0, 2, 0, 1, 3, 3, 1};
    const int mirrors[] = {-1, -1, 0, -1, 1, 0, -1, 0, -1};
    QList<int> turning;
    if (turns[options.orientation])
        turning.append(property(Box("irot", QByteArray(1, char(turns[options.orientation])))));
    if (mirrors[options.orientation] >= 0)
        turning.append(property(Box("imir", QByteArray(1, char(mirrors[options.orientation])))));
    QList<int> gridProperties =
        options.turnsFirst ? turning + QList<int>{gridSize} : QList<int>{gridSize} + turning;
    QHash<QByteArray, int> configurations;
    if (options.single) {
        const int hvcC = property(tiles[0].first);
        gridProperties.prepend(hvcC | 0x8000);
        associate(1, gridProperties);
        const QByteArray iloc = Be(0, 4) + char(0x44) + char(0) + Be(1, 2) + Be(1, 2) + Be(0, 2) + Be(1, 2);
        const auto meta = [&](qint64 at) {
            return Box("meta",
                       Be(0, 4) + Box("hdlr", Be(0, 8) + "pict" + QByteArray(13, '\0')) +
                           Box("pitm", Be(0, 4) + Be(1, 2)) +
                           Box("iloc", iloc + Be(quint32(at), 4) + Be(quint32(tiles[0].second.size()), 4)) +
                           Box("iinf", Be(0, 4) + Be(1, 2) +
                                           Box("infe", Be(0x02000000, 4) + Be(1, 2) + Be(0, 2) + coded +
                                                           QByteArray(1, '\0'))) +
                           Box("iprp", Box("ipco", ipco) + Box("ipma", Be(1, 4) + Be(1, 4) + ipma)));
        };
        return count == 1 &&
               WriteFile(path, ftyp + meta(ftyp.size() + meta(0).size() + 8) + Box("mdat", tiles[0].second));
    }
    associate(1, options.overlayAt ? QList<int>{gridSize} : gridProperties);
    for (quint32 i = 0; i < count; ++i) {
        const QByteArray& hvcC = tiles[int(i)].first;
        if (!configurations.contains(hvcC))
            configurations.insert(hvcC, property(hvcC));
        associate(i + 2, {configurations.value(hvcC) | 0x8000, tileSize});
    }
    if (options.overlayAt)
        associate(overlay, gridProperties);

    // The items' data, in 'mdat' order: the grid's description, the tiles, the overlay's.
    QList<QByteArray> data;
    data.append(QByteArray(1, '\0') + char(1) + char(rows - 1) + char(columns - 1) +
                Be(quint32(image.width()), 4) + Be(quint32(image.height()), 4));
    for (const auto& t : tiles)
        data.append(t.second);
    if (options.overlayAt)
        data.append(QByteArray(2, '\0') + QByteArray(8, '\0') + Be(quint32(image.width()), 2) +
                    Be(quint32(image.height()), 2) + Be(quint32(options.overlayAt->x()), 2) +
                    Be(quint32(options.overlayAt->y()), 2));

    QByteArray iinf = Be(0, 4) + Be(quint32(data.size()), 2);
    QByteArray dimg = Be(1, 2) + Be(count, 2);
    for (quint32 i = 0; i < count; ++i)
        dimg += Be(i + 2, 2);
    QByteArray iref = Be(0, 4) + Box("dimg", dimg);
    if (options.overlayAt)
        iref += Box("dimg", Be(overlay, 2) + Be(1, 2) + Be(1, 2));
    for (quint32 id = 1; id <= quint32(data.size()); ++id) {
        const char* type = id == 1 ? "grid" : id == overlay ? "iovl" : coded;
        const bool hidden = id != primary;
        iinf += Box("infe", Be(0x02000000u | (hidden ? 1 : 0), 4) + Be(id, 2) + Be(0, 2) + type +
                                QByteArray(1, '\0'));
    }
    QByteArray iloc = Be(0, 4) + char(0x44) + char(0) + Be(quint32(data.size()), 2);
    const auto meta = [&](qint64 dataStart) {
        QByteArray locations = iloc;
        qint64 at = dataStart;
        for (quint32 id = 1; id <= quint32(data.size()); ++id) {
            locations += Be(id, 2) + Be(0, 2) + Be(1, 2) + Be(quint32(at), 4) +
                         Be(quint32(data[int(id - 1)].size()), 4);
            at += data[int(id - 1)].size();
        }
        return Box("meta", Be(0, 4) + Box("hdlr", Be(0, 8) + "pict" + QByteArray(13, '\0')) +
                               Box("pitm", Be(0, 4) + Be(primary, 2)) + Box("iloc", locations) +
                               Box("iinf", iinf) + Box("iref", iref) +
                               Box("iprp", Box("ipco", ipco) +
                                               Box("ipma", Be(1, 4) + Be(quint32(data.size()), 4) + ipma)));
    };
    const qint64 dataStart = ftyp.size() + meta(0).size() + 8;
    QByteArray mdat;
    for (const QByteArray& d : data)
        mdat += d;
    return WriteFile(path, ftyp + meta(dataStart) + Box("mdat", mdat));
}

} // namespace vbtest
