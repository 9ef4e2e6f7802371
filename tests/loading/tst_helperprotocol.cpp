#include "PictureFiles.h"
#include "loading/FrameMemory.h"

#include <QDataStream>
#include <QIODevice>
#include <QtTest>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

using namespace vb;

namespace {

// A memfd holding `bytes`, sealed with `seals` (none: not sealable at all).
int MemfdWith(const QByteArray& bytes, int seals)
{
    const int fd = memfd_create("test-frame", MFD_CLOEXEC | (seals ? MFD_ALLOW_SEALING : 0));
    if (fd < 0 || write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size() ||
        (seals && fcntl(fd, F_ADD_SEALS, seals) != 0))
        qFatal("cannot make a memfd");
    return fd;
}

} // namespace

// A frame is taken only from a memfd sealed against shrinking (else reading it could fault) and
// writing, as large as its answer says; anything else is a picture that cannot be shown.
class tst_HelperProtocol : public QObject
{
    Q_OBJECT

private slots:
    void frameAnswer_data()
    {
        QTest::addColumn<QString>("tamper");
        QTest::addColumn<bool>("answer"); // else the packet is no answer at all
        QTest::addColumn<bool>("shown");
        QTest::newRow("as the helper sends it") << "" << true << true;
        QTest::newRow("drawn in the memfd it is sent in") << "in place" << true << true;
        QTest::newRow("drawn in the memfd, still shared as sent") << "shared" << true << true;
        QTest::newRow("no descriptor") << "no descriptor" << true << false;
        QTest::newRow("memfd not sealed") << "not sealed" << true << false;
        QTest::newRow("sealed against shrinking only") << "shrink only" << true << false;
        QTest::newRow("memfd shorter than the frame") << "short" << true << false;
        QTest::newRow("memfd longer than the frame") << "long" << true << false;
        QTest::newRow("a file, not a memfd") << "file" << true << false;
        QTest::newRow("line length not the width's") << "line length" << true << false;
        QTest::newRow("side beyond any screen") << "huge" << true << false;
        QTest::newRow("a request in place of an answer") << "request" << false << false;
        QTest::newRow("empty packet") << "empty" << false << false;
    }
    void frameAnswer()
    {
        QFETCH(QString, tamper);
        QFETCH(bool, answer);
        QFETCH(bool, shown);
        const QImage picture = vbtest::Quadrants(QSize(64, 32)).convertToFormat(QImage::Format_RGB32);
        int fd = -1;
        QByteArray bytes = helper::EncodeFrameDone(Frame{7, picture, QDate(2024, 6, 1)}, &fd);
        QVERIFY(fd >= 0);
        const QByteArray pixels(reinterpret_cast<const char*>(picture.constBits()), picture.sizeInBytes());
        const int sealed = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL;
        QTemporaryFile file;
        if (tamper == "no descriptor" || tamper == "not sealed" || tamper == "shrink only" ||
            tamper == "short" || tamper == "long" || tamper == "file") {
            close(fd);
            QVERIFY(file.open() && file.write(pixels) == pixels.size() && file.flush());
            fd = tamper == "no descriptor" ? -1
                 : tamper == "not sealed"  ? MemfdWith(pixels, 0)
                 : tamper == "shrink only" ? MemfdWith(pixels, F_SEAL_SHRINK)
                 : tamper == "long"        ? MemfdWith(pixels + QByteArray(4096, 0), sealed)
                 : tamper == "file"        ? dup(file.handle())
                                           : MemfdWith(pixels.left(pixels.size() / 2), sealed);
        } else if (tamper == "in place" || tamper == "shared") {
            close(fd);
            helper::FrameMemory memory;
            QImage drawn = memory.Make(picture.size());
            QVERIFY(!drawn.isNull());
            std::memcpy(drawn.bits(), picture.constBits(), size_t(picture.sizeInBytes()));
            const QImage other = tamper == "shared" ? drawn : QImage();
            bytes = memory.Encode(Frame{7, std::move(drawn), QDate(2024, 6, 1)}, &fd);
        } else if (tamper == "line length" || tamper == "huge") {
            bytes.clear();
            QDataStream(&bytes, QIODevice::WriteOnly)
                << quint8(helper::Kind::FrameDone) << quint64(7) << true
                << qint32(tamper == "huge" ? 1 << 20 : 64) << qint32(tamper == "huge" ? 1 : 32)
                << qint64(tamper == "huge" ? qint64(1) << 22 : 64 * 4 - 4) << QDate() << false << QString();
        } else if (tamper == "request" || tamper == "empty") {
            bytes = tamper == "empty" ? QByteArray() : char(helper::Kind::Frame) + bytes.mid(1);
        }
        const std::optional<Frame> frame = helper::DecodeFrameDone(bytes, fd);
        QCOMPARE(frame.has_value(), answer);
        if (!answer)
            return;
        QCOMPARE(frame->id, quint64(7));
        QCOMPARE(!frame->image.isNull(), shown);
        if (shown) {
            QCOMPARE(frame->image, picture);
            QCOMPARE(frame->dateTaken, QDate(2024, 6, 1));
        }
    }

    // A listing's part, as sent and cut short or mangled: the entries before the fault are read,
    // the rest is refused, never read past the packet.
    void listPart_data()
    {
        QTest::addColumn<int>("kept"); // bytes kept; -1 all, -2 inside the end, -3 a bad first type
        QTest::addColumn<QStringList>("read");
        QTest::addColumn<bool>("whole");
        const QStringList all{"IMG_0001.HEIC", "2024/3.2", "", "notes.txt"};
        QTest::newRow("as sent") << -1 << all << true;
        QTest::newRow("with the listing's end") << -2 << all << true;
        QTest::newRow("header only") << 9 << QStringList() << true;
        QTest::newRow("last name cut") << 62 << all.mid(0, 3) << false;
        QTest::newRow("folder's id cut") << 9 + 16 + 7 + 1 << all.mid(0, 1) << false;
        QTest::newRow("unknown type") << -3 << QStringList() << false;
    }
    void listPart()
    {
        QFETCH(int, kept);
        QFETCH(QStringList, read);
        QFETCH(bool, whole);
        QByteArray part = helper::BeginListPart(42);
        const FolderId folder{3, 1234567890123};
        for (const char* name : {"IMG_0001.HEIC", "2024", "", "notes.txt"})
            helper::AppendListEntry(part, name, std::strcmp(name, "2024") == 0 ? &folder : nullptr);
        qsizetype from = helper::ListHeaderBytes;
        if (kept == -2) {
            bool took = false;
            part = helper::EncodeListDone(42, {helper::ListStatus::Unreadable, folder, 13, "cannot"}, part,
                                          &took);
            const std::optional<helper::ListEnd> end = helper::DecodeListDone(part);
            QVERIFY(took && end && end->status == helper::ListStatus::Unreadable && end->own == folder &&
                    end->code == 13 && end->error == "cannot");
            from = end->entriesFrom;
        }
        if (kept >= 0)
            part.truncate(kept);
        if (kept == -3)
            part[9] = 7;
        QStringList seen;
        const bool parsed =
            helper::ForEachListEntry(part, from, [&](std::string_view name, const FolderId* id) {
                seen << QString::fromUtf8(name.data(), qsizetype(name.size())) +
                            (id ? QString("/%1.%2").arg(id->device).arg(id->inode == folder.inode ? 2 : 0)
                                : "");
            });
        QCOMPARE(seen, read);
        QCOMPARE(parsed, whole);
    }
};

QTEST_GUILESS_MAIN(tst_HelperProtocol)
#include "tst_helperprotocol.moc"
