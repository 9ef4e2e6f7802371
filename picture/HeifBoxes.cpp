#include "picture/HeifBoxes.h"

#include <QIODevice>
#include <QtEndian>
#include <algorithm>

namespace vb {

namespace {

// The 'meta' box of a photo is a few kilobytes, of a large grid some tens; one claiming more than
// this is not read.
constexpr qint64 MaxMetaBytes = 16 << 20;
// Items, references and properties beyond these counts are no photo.
constexpr quint32 MaxEntries = 1 << 16;

// Reads big-endian numbers from a span, remembering whether any read went past its end; a read
// past the end gives 0.
class Cursor
{
public:
    explicit Cursor(QByteArrayView data) : m_data(data) {}

    bool Ok() const { return m_ok; }
    qsizetype Left() const { return m_ok ? m_data.size() - m_at : 0; }
    qsizetype At() const { return m_at; }
    bool AtEnd() const { return Left() <= 0; }

    quint64 Number(int bytes)
    {
        if (bytes == 0)
            return 0;
        if (!Need(bytes))
            return 0;
        quint64 value = 0;
        for (int i = 0; i < bytes; ++i)
            value = (value << 8) | uchar(m_data[m_at + i]);
        m_at += bytes;
        return value;
    }
    quint8 U8() { return quint8(Number(1)); }
    quint16 U16() { return quint16(Number(2)); }
    quint32 U32() { return quint32(Number(4)); }
    QByteArray Type()
    {
        if (!Need(4))
            return QByteArray();
        QByteArray type = m_data.sliced(m_at, 4).toByteArray();
        m_at += 4;
        return type;
    }
    QByteArrayView Take(qsizetype bytes)
    {
        if (!Need(bytes))
            return QByteArrayView();
        const QByteArrayView part = m_data.sliced(m_at, bytes);
        m_at += bytes;
        return part;
    }
    void Fail() { m_ok = false; }

private:
    bool Need(qsizetype bytes)
    {
        if (!m_ok || bytes < 0 || bytes > m_data.size() - m_at) {
            m_ok = false;
            return false;
        }
        return true;
    }

    QByteArrayView m_data;
    qsizetype m_at = 0;
    bool m_ok = true;
};

struct Box
{
    QByteArray type;
    QByteArrayView whole;   // header included
    QByteArrayView content; // after the header
};

// The boxes one after another in `data`, each whole inside it.
std::optional<std::vector<Box>> Children(QByteArrayView data)
{
    std::vector<Box> boxes;
    Cursor cursor(data);
    while (!cursor.AtEnd()) {
        const qsizetype start = cursor.At();
        quint64 size = cursor.U32();
        const QByteArray type = cursor.Type();
        if (size == 1)
            size = cursor.Number(8);
        else if (size == 0)
            size = quint64(data.size() - start);
        const qsizetype header = cursor.At() - start;
        if (!cursor.Ok() || size < quint64(header) || size > quint64(data.size() - start) ||
            boxes.size() >= MaxEntries)
            return std::nullopt;
        cursor.Take(qsizetype(size) - header);
        const QByteArrayView whole = data.sliced(start, qsizetype(size));
        boxes.push_back(Box{type, whole, whole.sliced(header)});
    }
    return boxes;
}

const Box* Child(const std::vector<Box>& boxes, const char* type)
{
    for (const Box& box : boxes)
        if (box.type == type)
            return &box;
    return nullptr;
}

// libheif's arithmetic for a clean aperture: fractions of whole numbers, rounded its way.
struct Fraction
{
    qint64 num = 0, den = 1;

    Fraction operator+(Fraction o) const
    {
        return den == o.den ? Fraction{num + o.num, den} : Fraction{num * o.den + o.num * den, den * o.den};
    }
    Fraction operator-(Fraction o) const
    {
        return den == o.den ? Fraction{num - o.num, den} : Fraction{num * o.den - o.num * den, den * o.den};
    }
    Fraction operator-(qint64 v) const { return Fraction{num - v * den, den}; }
    Fraction operator+(qint64 v) const { return Fraction{num + v * den, den}; }
    Fraction operator/(qint64 v) const { return Fraction{num, den * v}; }
    qint64 RoundDown() const { return num / den; }
    qint64 Round() const { return (num + den / 2) / den; }
};

bool Append(QByteArray& out, const char* type, const QByteArray& content)
{
    QByteArray size(4, '\0');
    qToBigEndian(quint32(8 + content.size()), size.data());
    out += size + QByteArray(type, 4) + content;
    return true;
}

QByteArray Be32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray Be16(quint16 value)
{
    QByteArray bytes(2, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

} // namespace

QRect HeifBoxes::Layout::Coded(const QRect& shown) const
{
    // The turn is its own transpose's inverse: x = xx (u - dx) + yx (v - dy), and so on.
    const auto back = [&](int u, int v) {
        return QPoint(xx * (u - dx) + yx * (v - dy), xy * (u - dx) + yy * (v - dy));
    };
    const QPoint a = back(shown.left(), shown.top());
    const QPoint b = back(shown.right(), shown.bottom());
    return QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                 QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y())));
}

std::optional<HeifBoxes> HeifBoxes::Read(QIODevice& device, QString* why)
{
    HeifBoxes boxes;
    if (const char* broken = boxes.ReadMeta(device)) {
        *why = QString::fromLatin1(broken);
        return std::nullopt;
    }
    return boxes;
}

const char* HeifBoxes::ReadMeta(QIODevice& device)
{
    QByteArray meta;
    if (const char* broken = ReadTopLevel(device, meta))
        return broken;
    if (meta.size() < 4)
        return "the file has no 'meta' box";
    const auto children = Children(QByteArrayView(meta).sliced(4));
    if (!children)
        return "the 'meta' box's boxes are broken";
    const Box* pitm = Child(*children, "pitm");
    if (const char* broken = pitm ? ReadPrimary(pitm->content) : nullptr)
        return broken;
    const Box* iloc = Child(*children, "iloc");
    const Box* iinf = Child(*children, "iinf");
    if (!iloc || !iinf)
        return "the file lists no items";
    if (const char* broken = ReadLocations(iloc->content))
        return broken;
    if (const char* broken = ReadItemInfos(iinf->content))
        return broken;
    const Box* iref = Child(*children, "iref");
    if (const char* broken = iref ? ReadReferences(iref->content) : nullptr)
        return broken;
    const Box* iprp = Child(*children, "iprp");
    if (const char* broken = iprp ? ReadProperties(iprp->content) : nullptr)
        return broken;
    if (const Box* idat = Child(*children, "idat"))
        m_idat = idat->content.toByteArray();
    return Find(m_primary) ? nullptr : "the primary picture is not among the items";
}

// The top-level boxes, read header by header; only 'ftyp' and 'meta' are kept.
const char* HeifBoxes::ReadTopLevel(QIODevice& device, QByteArray& meta)
{
    if (!device.seek(0))
        return "cannot read the file";
    for (qint64 at = 0; at < device.size();) {
        if (!device.seek(at))
            return "cannot read the file";
        const QByteArray header = device.read(16);
        if (header.size() < 8)
            return "a box is cut short";
        quint64 size = qFromBigEndian<quint32>(header.constData());
        const QByteArray type = header.mid(4, 4);
        qint64 headerBytes = 8;
        if (size == 1) {
            if (header.size() < 16)
                return "a box is cut short";
            size = qFromBigEndian<quint64>(header.constData() + 8);
            headerBytes = 16;
        } else if (size == 0) {
            size = quint64(device.size() - at);
        }
        if (size < quint64(headerBytes) || size > quint64(device.size() - at))
            return "a box reaches past the end of the file";
        if (type == "ftyp" && header.size() >= 12) {
            m_brand = header.mid(8, 4);
        } else if (type == "meta") {
            if (size > quint64(MaxMetaBytes) || !meta.isEmpty())
                return "the file's 'meta' box is too large or repeated";
            if (!device.seek(at + headerBytes))
                return "cannot read the file";
            meta = device.read(qint64(size) - headerBytes);
            if (meta.size() != qsizetype(size) - headerBytes)
                return "cannot read the file";
        }
        at += qint64(size);
    }
    return nullptr;
}

const char* HeifBoxes::ReadPrimary(QByteArrayView content)
{
    Cursor c(content);
    const int version = c.U8();
    c.Number(3);
    m_primary = quint32(c.Number(version == 0 ? 2 : 4));
    return c.Ok() ? nullptr : "the 'pitm' box is broken";
}

const char* HeifBoxes::ReadLocations(QByteArrayView content)
{
    Cursor c(content);
    const int version = c.U8();
    c.Number(3);
    const int sizes = c.U8();
    const int offsetSize = sizes >> 4, lengthSize = sizes & 15;
    const int more = c.U8();
    const int baseSize = more >> 4, indexSize = version >= 1 ? more & 15 : 0;
    const auto valid = [](int n) {
        return n == 0 || n == 4 || n == 8;
    };
    if (version > 2 || !valid(offsetSize) || !valid(lengthSize) || !valid(baseSize) || !valid(indexSize))
        return "the 'iloc' box is of an unknown kind";
    const quint32 count = quint32(c.Number(version < 2 ? 2 : 4));
    if (count > MaxEntries)
        return "the 'iloc' box lists too many items";
    for (quint32 i = 0; i < count && c.Ok(); ++i) {
        Item item;
        item.id = quint32(c.Number(version < 2 ? 2 : 4));
        if (version >= 1)
            item.construction = c.U16() & 15;
        c.U16(); // data reference: the file itself
        item.base = c.Number(baseSize);
        const int extents = c.U16();
        for (int e = 0; e < extents && c.Ok(); ++e) {
            c.Number(indexSize);
            const quint64 offset = c.Number(offsetSize);
            const quint64 length = c.Number(lengthSize);
            item.extents.emplace_back(offset, length);
        }
        m_items.push_back(std::move(item));
    }
    return c.Ok() ? nullptr : "the 'iloc' box is cut short";
}

const char* HeifBoxes::ReadItemInfos(QByteArrayView content)
{
    Cursor c(content);
    const int version = c.U8();
    c.Number(3);
    const quint32 count = quint32(c.Number(version == 0 ? 2 : 4));
    const auto entries = Children(content.sliced(std::min<qsizetype>(c.At(), content.size())));
    if (!c.Ok() || !entries || count > MaxEntries)
        return "the 'iinf' box is broken";
    for (const Box& infe : *entries) {
        if (infe.type != "infe")
            continue;
        Cursor e(infe.content);
        const int infeVersion = e.U8();
        const quint32 flags = quint32(e.Number(3));
        if (infeVersion < 2)
            continue; // no item type: no picture
        const quint32 id = quint32(e.Number(infeVersion == 2 ? 2 : 4));
        e.U16();
        const QByteArray type = e.Type();
        if (!e.Ok())
            return "an 'infe' box is cut short";
        auto item =
            std::find_if(m_items.begin(), m_items.end(), [id](const Item& it) { return it.id == id; });
        if (item == m_items.end()) {
            // An item without data (a grid may keep its own in the file, or be empty).
            m_items.push_back(Item{id, {}, false, 0, 0, {}});
            item = m_items.end() - 1;
        }
        item->type = type;
        item->hidden = flags & 1;
    }
    return nullptr;
}

const char* HeifBoxes::ReadReferences(QByteArrayView content)
{
    Cursor c(content);
    const int version = c.U8();
    c.Number(3);
    const int idBytes = version == 0 ? 2 : 4;
    const auto references = Children(content.sliced(std::min<qsizetype>(4, content.size())));
    if (!c.Ok() || !references)
        return "the 'iref' box is broken";
    for (const Box& box : *references) {
        Cursor r(box.content);
        Reference reference{box.type, quint32(r.Number(idBytes)), {}};
        const int count = r.U16();
        for (int i = 0; i < count && r.Ok(); ++i)
            reference.to.push_back(quint32(r.Number(idBytes)));
        if (!r.Ok())
            return "a reference is cut short";
        m_references.push_back(std::move(reference));
    }
    return nullptr;
}

const char* HeifBoxes::ReadProperties(QByteArrayView content)
{
    const auto parts = Children(content);
    if (!parts)
        return "the 'iprp' box is broken";
    if (const Box* ipco = Child(*parts, "ipco")) {
        const auto properties = Children(ipco->content);
        if (!properties)
            return "the 'ipco' box is broken";
        for (const Box& box : *properties)
            m_properties.push_back(Property{box.type, box.whole.toByteArray(),
                                            int(box.whole.size() - box.content.size()), false});
    }
    for (const Box& ipma : *parts)
        if (ipma.type == "ipma")
            if (const char* broken = ReadAssociations(ipma.content))
                return broken;
    return nullptr;
}

const char* HeifBoxes::ReadAssociations(QByteArrayView content)
{
    Cursor c(content);
    const int version = c.U8();
    const quint32 flags = quint32(c.Number(3));
    const quint32 count = c.U32();
    if (count > MaxEntries)
        return "the 'ipma' box lists too many items";
    for (quint32 i = 0; i < count && c.Ok(); ++i) {
        Association association{quint32(c.Number(version < 1 ? 2 : 4)), {}};
        const int n = c.U8();
        for (int k = 0; k < n && c.Ok(); ++k) {
            const quint32 value = quint32(c.Number(flags & 1 ? 2 : 1));
            const quint32 top = flags & 1 ? 0x8000 : 0x80;
            association.properties.emplace_back(int(value & (top - 1)), (value & top) != 0);
        }
        m_associations.push_back(std::move(association));
    }
    return c.Ok() ? nullptr : "the 'ipma' box is cut short";
}

const HeifBoxes::Item* HeifBoxes::Find(quint32 id) const
{
    for (const Item& item : m_items)
        if (item.id == id)
            return &item;
    return nullptr;
}

std::vector<quint32> HeifBoxes::References(quint32 from, const char* type) const
{
    for (const Reference& reference : m_references)
        if (reference.from == from && reference.type == type)
            return reference.to;
    return {};
}

std::vector<quint32> HeifBoxes::ReferencesTo(quint32 to, const char* type) const
{
    std::vector<quint32> from;
    for (const Reference& reference : m_references)
        if (reference.type == type &&
            std::find(reference.to.begin(), reference.to.end(), to) != reference.to.end())
            from.push_back(reference.from);
    return from;
}

std::vector<const HeifBoxes::Property*> HeifBoxes::Properties(quint32 id) const
{
    std::vector<const Property*> found;
    for (const Association& association : m_associations) {
        if (association.item != id)
            continue;
        for (const auto& [index, essential] : association.properties)
            if (index >= 1 && size_t(index) <= m_properties.size())
                found.push_back(&m_properties[size_t(index) - 1]);
    }
    return found;
}

const HeifBoxes::Property* HeifBoxes::FindProperty(quint32 id, const char* type) const
{
    for (const Property* property : Properties(id))
        if (property->type == type)
            return property;
    return nullptr;
}

std::optional<QByteArray> HeifBoxes::Data(QIODevice& device, quint32 id, qint64 limit) const
{
    const Item* item = Find(id);
    if (!item)
        return std::nullopt;
    QByteArray data;
    for (const auto& [offset, length] : item->extents) {
        const quint64 start = item->base + offset;
        // A length of 0 is the rest of what holds it.
        const quint64 whole = item->construction == 1 ? quint64(m_idat.size()) : quint64(device.size());
        if (start < item->base || start > whole)
            return std::nullopt;
        const quint64 bytes = length == 0 ? whole - start : length;
        if (bytes > whole - start || qint64(bytes) > limit - data.size())
            return std::nullopt;
        if (item->construction == 1) {
            data += m_idat.mid(qsizetype(start), qsizetype(bytes));
        } else if (item->construction == 0) {
            if (!device.seek(qint64(start)))
                return std::nullopt;
            const QByteArray part = device.read(qint64(bytes));
            if (part.size() != qsizetype(bytes))
                return std::nullopt;
            data += part;
        } else {
            return std::nullopt;
        }
    }
    return data;
}

std::optional<QSize> HeifBoxes::CodedSize(quint32 id) const
{
    const Property* ispe = FindProperty(id, "ispe");
    if (!ispe)
        return std::nullopt;
    Cursor c(ispe->Content());
    c.U32();
    const quint32 width = c.U32(), height = c.U32();
    if (!c.Ok() || width == 0 || height == 0 || width > (1u << 30) || height > (1u << 30))
        return std::nullopt;
    return QSize(int(width), int(height));
}

std::optional<HeifBoxes::Layout> HeifBoxes::LayoutOf(quint32 id, QString* why) const
{
    const std::optional<QSize> coded = CodedSize(id);
    if (!coded) {
        *why = QStringLiteral("the picture has no size");
        return std::nullopt;
    }
    return LayoutOf(id, *coded, why);
}

std::optional<HeifBoxes::Layout> HeifBoxes::LayoutOf(quint32 id, QSize coded, QString* why) const
{
    Layout layout;
    layout.coded = QRect(QPoint(0, 0), coded);
    layout.size = coded;
    // Each step maps the picture so far (of layout.size) to the next: u' = a u + b v + e, ...
    const auto then = [&](int a, int b, int c, int d, int e, int f) {
        Layout& l = layout;
        const int xx = a * l.xx + b * l.yx, xy = a * l.xy + b * l.yy, dx = a * l.dx + b * l.dy + e;
        const int yx = c * l.xx + d * l.yx, yy = c * l.xy + d * l.yy, dy = c * l.dx + d * l.dy + f;
        l.xx = xx, l.xy = xy, l.dx = dx, l.yx = yx, l.yy = yy, l.dy = dy;
    };
    for (const Property* property : Properties(id)) {
        Cursor c(property->Content());
        const int w = layout.size.width(), h = layout.size.height();
        if (property->type == "irot") {
            // Counter-clockwise, in quarter turns.
            switch (c.U8() & 3) {
            case 1:
                then(0, 1, -1, 0, 0, w - 1);
                layout.size.transpose();
                break;
            case 2:
                then(-1, 0, 0, -1, w - 1, h - 1);
                break;
            case 3:
                then(0, -1, 1, 0, h - 1, 0);
                layout.size.transpose();
                break;
            default:
                break;
            }
        } else if (property->type == "imir") {
            // libheif 1.15 reads axis 0 as the horizontal one (top and bottom change places),
            // and its files are written so; its reading is followed here.
            if (c.U8() & 1)
                then(-1, 0, 0, 1, w - 1, 0);
            else
                then(1, 0, 0, -1, 0, h - 1);
        } else if (property->type == "clap") {
            // Width, height, horizontal and vertical offset, each a numerator and a denominator.
            const auto fraction = [&c] {
                const qint32 num = qint32(c.U32());
                return Fraction{num, qint32(c.U32())};
            };
            const Fraction width = fraction(), height = fraction();
            const Fraction horizontal = fraction(), vertical = fraction();
            if (!c.Ok() || width.den <= 0 || height.den <= 0 || horizontal.den <= 0 || vertical.den <= 0) {
                *why = QStringLiteral("the picture's crop is broken");
                return std::nullopt;
            }
            const qint64 leftEdge = (horizontal + Fraction{w - 1, 2} - (width - 1) / 2).RoundDown();
            qint64 right = ((width - 1) + leftEdge).Round();
            const qint64 topEdge = (vertical + Fraction{h - 1, 2} - (height - 1) / 2).Round();
            qint64 bottom = ((height - 1) + topEdge).Round();
            const qint64 left = std::max<qint64>(leftEdge, 0), top = std::max<qint64>(topEdge, 0);
            right = std::min<qint64>(right, w - 1);
            bottom = std::min<qint64>(bottom, h - 1);
            if (left >= right || top >= bottom) {
                *why = QStringLiteral("the picture's crop leaves nothing");
                return std::nullopt;
            }
            const QRect kept =
                layout.Coded(QRect(QPoint(int(left), int(top)), QPoint(int(right), int(bottom))));
            layout.coded = layout.coded.intersected(kept);
            then(1, 0, 0, 1, -int(left), -int(top));
            layout.size = QSize(int(right - left + 1), int(bottom - top + 1));
        }
        if (!c.Ok()) {
            *why = QStringLiteral("a property of the picture is cut short");
            return std::nullopt;
        }
    }
    return layout;
}

std::optional<HeifBoxes::Grid> HeifBoxes::GridOf(QIODevice& device, quint32 id, QString* why) const
{
    const std::optional<QByteArray> data = Data(device, id, 64);
    Cursor c(data ? QByteArrayView(*data) : QByteArrayView());
    c.U8();
    const bool wide = c.U8() & 1;
    Grid grid;
    grid.rows = c.U8() + 1;
    grid.columns = c.U8() + 1;
    const quint32 width = quint32(c.Number(wide ? 4 : 2)), height = quint32(c.Number(wide ? 4 : 2));
    grid.size = QSize(int(std::min<quint32>(width, 1u << 30)), int(std::min<quint32>(height, 1u << 30)));
    grid.tiles = References(id, "dimg");
    if (!data || !c.Ok() || grid.size.isEmpty() || grid.tiles.size() != size_t(grid.rows * grid.columns)) {
        *why = QStringLiteral("the picture's grid is broken");
        return std::nullopt;
    }
    return grid;
}

bool HeifBoxes::OverlaysFit(QIODevice& device, QString* why) const
{
    // The items the primary picture is made of, however deep.
    std::vector<quint32> pending{m_primary}, seen;
    while (!pending.empty()) {
        const quint32 id = pending.back();
        pending.pop_back();
        if (std::find(seen.begin(), seen.end(), id) != seen.end() || seen.size() > MaxEntries)
            continue;
        seen.push_back(id);
        const std::vector<quint32> parts = References(id, "dimg");
        pending.insert(pending.end(), parts.begin(), parts.end());
        const Item* item = Find(id);
        if (!item || item->type != "iovl")
            continue;
        *why = QStringLiteral("the picture's overlay places a picture outside its canvas");
        const std::optional<QByteArray> data = Data(device, id, 1 << 20);
        if (!data)
            return false;
        Cursor c(*data);
        const int version = c.U8();
        const int bytes = c.U8() & 1 ? 4 : 2;
        c.Number(8); // the canvas's fill colour
        const qint64 width = qint64(c.Number(bytes)), height = qint64(c.Number(bytes));
        if (version != 0 || !c.Ok() || width <= 0 || height <= 0)
            return false;
        if (c.Left() != qsizetype(parts.size()) * 2 * bytes)
            return false;
        for (const quint32 part : parts) {
            const auto signedValue = [&] {
                const quint64 raw = c.Number(bytes);
                const quint64 top = quint64(1) << (bytes * 8 - 1);
                return raw & top ? qint64(raw) - qint64(top << 1) : qint64(raw);
            };
            const qint64 x = signedValue(), y = signedValue();
            QString ignored;
            const std::optional<Layout> layout = LayoutOf(part, &ignored);
            if (!layout || x < 0 || y < 0 || x + layout->size.width() > width ||
                y + layout->size.height() > height)
                return false;
        }
    }
    return true;
}

QByteArray HeifBoxes::SingleItemFile(QIODevice& device, quint32 id, quint32 colours, qint64 limit) const
{
    const Item* item = Find(id);
    if (!item || (item->type != "hvc1" && item->type != "av01"))
        return QByteArray();
    const bool av1 = item->type == "av01";
    const std::optional<QByteArray> data = Data(device, id, limit);
    if (!data)
        return QByteArray();
    // The tile's own properties but its turns and crops (a grid's tiles have none of their own
    // that libheif would apply), and the picture's colour description if the tile has none.
    QByteArray ipco;
    int count = 0;
    QByteArray associations;
    bool hasColour = false;
    const auto add = [&](const Property& property) {
        ipco += property.box;
        ++count;
        associations += char((property.essential ? 0x80 : 0) | count);
    };
    for (const Property* property : Properties(id)) {
        if (property->type == "irot" || property->type == "imir" || property->type == "clap" || count >= 100)
            continue;
        hasColour = hasColour || property->type == "colr";
        add(*property);
    }
    if (!hasColour)
        for (const Property* property : Properties(colours))
            if (property->type == "colr")
                add(*property);

    QByteArray ftyp = QByteArray(av1 ? "avif" : "heic") + Be32(0) + "mif1" + (av1 ? "avif" : "heic");
    QByteArray out;
    Append(out, "ftyp", ftyp);

    QByteArray meta = Be32(0);
    Append(meta, "hdlr", Be32(0) + Be32(0) + "pict" + QByteArray(12, '\0') + QByteArray(1, '\0'));
    Append(meta, "pitm", Be32(0) + Be16(1));
    QByteArray infe;
    Append(infe, "infe", Be32(0x02000000) + Be16(1) + Be16(0) + item->type + QByteArray(1, '\0'));
    Append(meta, "iinf", Be32(0) + Be16(1) + infe);
    QByteArray iprp;
    Append(iprp, "ipco", ipco);
    Append(iprp, "ipma", Be32(0) + Be32(1) + Be16(1) + char(count) + associations);
    Append(meta, "iprp", iprp);
    // The iloc box's one offset is filled in once the boxes before the data are laid out.
    const QByteArray ilocContent = Be32(0) + char(0x44) + char(0) + Be16(1) + Be16(1) + Be16(0) + Be16(1) +
                                   Be32(0) + Be32(quint32(data->size()));
    Append(meta, "iloc", ilocContent);
    Append(out, "meta", meta);
    const quint32 offset = quint32(out.size() + 8);
    qToBigEndian(offset, out.data() + out.size() - 8);
    Append(out, "mdat", *data);
    return out;
}

} // namespace vb
