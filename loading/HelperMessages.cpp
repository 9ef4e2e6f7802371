#include "loading/HelperMessages.h"

#include <QDataStream>
#include <QIODevice>
#include <algorithm>
#include <cmath>

namespace vb::helper {

Kind KindOf(const QByteArray& bytes)
{
    return bytes.isEmpty() ? Kind{} : Kind(quint8(bytes.at(0)));
}

quint64 IdOf(const QByteArray& bytes)
{
    if (bytes.size() < ListHeaderBytes)
        return 0;
    quint64 id = 0;
    for (int i = 1; i < ListHeaderBytes; ++i)
        id = id << 8 | quint8(bytes.at(i));
    return id;
}

QByteArray BeginListPart(quint64 id)
{
    QByteArray part;
    part.reserve(MaxMessageBytes);
    part.append(char(Kind::ListPart));
    for (int shift = 56; shift >= 0; shift -= 8)
        part.append(char(quint8(id >> shift)));
    return part;
}

bool ListPartEmpty(const QByteArray& part)
{
    return part.size() <= ListHeaderBytes;
}

void AppendListEntry(QByteArray& part, std::string_view name, const FolderId* folder)
{
    // A file system's names are at most 255 bytes; a longer one could not be opened anyway, and
    // a part with the longest stays within a packet.
    if (name.size() > 4096)
        return;
    const char head[3] = {char(folder ? 1 : 0), char(quint8(name.size() >> 8)), char(quint8(name.size()))};
    part.append(head, 3);
    part.append(name.data(), qsizetype(name.size()));
    if (folder) {
        part.append(reinterpret_cast<const char*>(&folder->device), sizeof(quint64));
        part.append(reinterpret_cast<const char*>(&folder->inode), sizeof(quint64));
    }
}

bool FolderWithin(const QString& path, const QStringList& folders)
{
    return std::any_of(folders.begin(), folders.end(), [&path](const QString& folder) {
        return path.startsWith(folder) &&
               (path.size() == folder.size() || folder.endsWith(u'/') || path.at(folder.size()) == u'/');
    });
}

QByteArray EncodeListDone(quint64 id, const ListEnd& end, const QByteArray& lastPart, bool* tookPart)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint8(Kind::ListDone) << id << quint8(end.status) << end.own.device << end.own.inode << end.code
        << end.error << end.target;
    const qsizetype entries = lastPart.size() - ListHeaderBytes;
    *tookPart = entries > 0 && bytes.size() + entries <= MaxMessageBytes;
    if (*tookPart)
        bytes.append(lastPart.constData() + ListHeaderBytes, entries);
    return bytes;
}

std::optional<ListEnd> DecodeListDone(const QByteArray& bytes)
{
    QDataStream in(bytes);
    quint8 kind = 0, status = 0;
    quint64 id = 0;
    ListEnd end;
    in >> kind >> id >> status >> end.own.device >> end.own.inode >> end.code >> end.error >> end.target;
    if (in.status() != QDataStream::Ok || Kind(kind) != Kind::ListDone ||
        status > quint8(ListStatus::Elsewhere))
        return std::nullopt;
    end.status = ListStatus(status);
    end.entriesFrom = qsizetype(in.device()->pos());
    return end;
}

QSize FrameSize(const FrameRequest& request)
{
    // As ImageCanvas::Resize makes it.
    const ImageCanvas& canvas = request.canvas;
    if (canvas.DeviceSize().isValid())
        return canvas.DeviceSize();
    const QSize logical = canvas.LogicalSize().expandedTo(QSize(0, 0));
    return QSize(int(std::ceil(logical.width() * canvas.DevicePixelRatio())),
                 int(std::ceil(logical.height() * canvas.DevicePixelRatio())));
}

QByteArray EncodeFrameRequest(const FrameRequest& request)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    const ImageCanvas& canvas = request.canvas;
    out << quint8(Kind::Frame) << quint64(request.id) << request.path << canvas.LogicalSize()
        << canvas.DeviceSize() << double(canvas.DevicePixelRatio()) << double(canvas.DevicePixelsPerPixel())
        << request.preview << request.screen << qint32(request.decodeLimitMegabytes)
        << request.fitLargePictures << request.readDateTaken << canvas.ScreenProfile();
    return bytes;
}

std::optional<FrameRequest> DecodeFrameRequest(const QByteArray& bytes)
{
    QDataStream in(bytes);
    quint8 kind = 0;
    quint64 id = 0;
    FrameRequest request;
    QSize logical, device;
    double ratio = 1, perPixel = 1;
    qint32 limit = 0;
    QByteArray screenProfile;
    in >> kind >> id >> request.path >> logical >> device >> ratio >> perPixel >> request.preview >>
        request.screen >> limit >> request.fitLargePictures >> request.readDateTaken >> screenProfile;
    if (in.status() != QDataStream::Ok || Kind(kind) != Kind::Frame || logical.width() > MaxFrameSide ||
        logical.height() > MaxFrameSide || device.width() > MaxFrameSide || device.height() > MaxFrameSide ||
        !(ratio > 0 && ratio < 64) || !(perPixel > 0 && perPixel < 64))
        return std::nullopt;
    request.id = id;
    request.decodeLimitMegabytes = limit;
    request.canvas.SetSizeWithoutImage(logical, ratio, device, perPixel);
    request.canvas.SetScreenProfile(screenProfile);
    return request;
}

QByteArray EncodeListRequest(const ListRequest& request)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint8(Kind::List) << request.id << request.folder << request.subfolders;
    return bytes;
}

std::optional<ListRequest> DecodeListRequest(const QByteArray& bytes)
{
    QDataStream in(bytes);
    quint8 kind = 0;
    ListRequest request;
    in >> kind >> request.id >> request.folder >> request.subfolders;
    if (in.status() != QDataStream::Ok || Kind(kind) != Kind::List)
        return std::nullopt;
    return request;
}

QByteArray EncodeFrameAnswer(const FrameAnswer& answer)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint8(Kind::FrameDone) << answer.id << !answer.size.isEmpty() << qint32(answer.size.width())
        << qint32(answer.size.height()) << answer.bytesPerLine << answer.dateTaken << answer.missing
        << answer.elsewhere;
    return bytes;
}

std::optional<FrameAnswer> DecodeFrameAnswer(const QByteArray& bytes)
{
    QDataStream in(bytes);
    quint8 kind = 0;
    bool shown = false;
    qint32 width = 0, height = 0;
    FrameAnswer answer;
    in >> kind >> answer.id >> shown >> width >> height >> answer.bytesPerLine >> answer.dateTaken >>
        answer.missing >> answer.elsewhere;
    if (in.status() != QDataStream::Ok || Kind(kind) != Kind::FrameDone)
        return std::nullopt;
    if (shown && width > 0 && height > 0 && width <= MaxFrameSide && height <= MaxFrameSide &&
        answer.bytesPerLine == qint64(width) * 4 && answer.bytesPerLine * height <= MaxFrameBytes)
        answer.size = QSize(width, height);
    return answer;
}

} // namespace vb::helper
