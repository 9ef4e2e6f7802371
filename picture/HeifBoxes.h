#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QRect>
#include <QSize>
#include <QString>
#include <QtGlobal>
#include <optional>
#include <vector>

class QIODevice;

namespace vb {

// The boxes of a HEIF file that say what its pictures are made of: which items there are and
// where their bytes lie, how they refer to each other, and the properties each has, in the order
// the file associates them. libheif 1.15 decodes a picture only whole and reports some sizes
// before the turns it then applies; what this program must know ahead of decoding (a grid's
// tiles, the upright size, an overlay's layout) it reads here. Every length and offset is checked
// against what holds it; a file that breaks one is no picture.
class HeifBoxes
{
public:
    struct Item
    {
        quint32 id = 0;
        QByteArray type; // "hvc1", "av01", "grid", "iovl", "Exif", ...
        bool hidden = false;
        int construction = 0; // 0: in the file, 1: in the 'idat' box
        quint64 base = 0;
        std::vector<std::pair<quint64, quint64>> extents; // offset, length
    };
    struct Property
    {
        QByteArray type;
        // The whole box, header included, and where its content starts in it.
        QByteArray box;
        int content = 8;
        bool essential = false;
        QByteArrayView Content() const { return QByteArrayView(box).sliced(content); }
    };

    // The picture as it shows, from its coded size through the file's crops, turns and mirrors
    // in the order the file lists them, as libheif applies them when it decodes: the rectangle
    // `coded` of the coded picture becomes the upright picture of size `size`. A coded pixel
    // (x, y) of it shows at (xx * x + xy * y + dx, yx * x + yy * y + dy).
    struct Layout
    {
        QRect coded;
        QSize size;
        int xx = 1, xy = 0, yx = 0, yy = 1, dx = 0, dy = 0;

        bool Upright() const { return xx == 1 && yy == 1 && xy == 0 && yx == 0; }
        QPoint Shown(int x, int y) const { return QPoint(xx * x + xy * y + dx, yx * x + yy * y + dy); }
        // The rectangle of the coded picture that shows as `shown` (in the upright picture).
        QRect Coded(const QRect& shown) const;
    };

    // A grid of tiles, read from the 'grid' item's data and its 'dimg' references.
    struct Grid
    {
        int rows = 0, columns = 0;
        QSize size; // the canvas the tiles are placed on, before the crops and turns
        std::vector<quint32> tiles;
    };

    // Reads the file's 'meta' box from `device` (positioned anywhere); nullopt with `why` told
    // when the file's boxes are broken.
    static std::optional<HeifBoxes> Read(QIODevice& device, QString* why);

    quint32 Primary() const { return m_primary; }
    const Item* Find(quint32 id) const;
    // The items `from` refers to with a reference of `type` ("dimg", "auxl", ...), in order.
    std::vector<quint32> References(quint32 from, const char* type) const;
    // The items that refer to `to` with a reference of `type`.
    std::vector<quint32> ReferencesTo(quint32 to, const char* type) const;
    std::vector<const Property*> Properties(quint32 id) const;
    const Property* FindProperty(quint32 id, const char* type) const;

    // The item's bytes, at most `limit` of them; nullopt when they lie outside the file or are
    // more.
    std::optional<QByteArray> Data(QIODevice& device, quint32 id, qint64 limit) const;

    // The item's coded size ('ispe'); nullopt without one.
    std::optional<QSize> CodedSize(quint32 id) const;
    // The item's layout; nullopt with `why` told when its crops leave nothing or it has no size.
    std::optional<Layout> LayoutOf(quint32 id, QString* why) const;
    std::optional<Layout> LayoutOf(quint32 id, QSize coded, QString* why) const;
    std::optional<Grid> GridOf(QIODevice& device, quint32 id, QString* why) const;

    // False, with `why` told, when an overlay item that the primary picture is made of places a
    // picture outside its canvas or gives a number of places other than its pictures': libheif
    // 1.15 copies such a picture without keeping to the canvas.
    bool OverlaysFit(QIODevice& device, QString* why) const;

    // A file of one coded item, `id` (one of a grid's tiles), with its coding's configuration
    // and its colour properties (those of `colours` where it has none), for libheif to decode
    // on its own. Empty when the item is no coded picture or its bytes cannot be read.
    QByteArray SingleItemFile(QIODevice& device, quint32 id, quint32 colours, qint64 limit) const;

private:
    // Each reads the file, or one box of its 'meta' box, into the lists below: nullptr, or why it
    // is broken.
    const char* ReadMeta(QIODevice& device);
    const char* ReadTopLevel(QIODevice& device, QByteArray& meta);
    const char* ReadPrimary(QByteArrayView content);
    const char* ReadLocations(QByteArrayView content);
    const char* ReadItemInfos(QByteArrayView content);
    const char* ReadReferences(QByteArrayView content);
    const char* ReadProperties(QByteArrayView content);
    const char* ReadAssociations(QByteArrayView content);

    struct Reference
    {
        QByteArray type;
        quint32 from = 0;
        std::vector<quint32> to;
    };
    struct Association
    {
        quint32 item = 0;
        std::vector<std::pair<int, bool>> properties; // 1-based index, essential
    };

    QByteArray m_brand;
    quint32 m_primary = 0;
    std::vector<Item> m_items;
    std::vector<Reference> m_references;
    std::vector<Property> m_properties;
    std::vector<Association> m_associations;
    QByteArray m_idat;
};

} // namespace vb
