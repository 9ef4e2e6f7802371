#include "ProgramRun.h"
#include "TestSupport.h"
#include "catalogue/PictureIndex.h"
#include "platform/runtime/DetachedThread.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "state/ModuleState.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace vb;

class tst_PictureIndex : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // The list an earlier catalogue of /a and /c left: names as the file system gave them, one of
    // them not UTF-8.
    static PathList Indexed()
    {
        PathList list;
        const quint32 a = list.AddFolder("/a/");
        list.Append(a, "caf\xe9.jpg");
        list.Append(a, "old.jpg");
        list.Append(list.AddFolder("/c/sub/"), "x.bmp");
        return list;
    }

private slots:
    // An index written for /a and /c without options, spoilt or not, then a start-up with the
    // settings of the row: it starts from the index exactly when the index fits them unspoilt, and
    // ends on the folders' own list, which it writes to the index.
    void startUp_data()
    {
        QTest::addColumn<QString>("spoil");
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<bool>("subfolders");
        QTest::addColumn<bool>("loads");
        const QStringList both{"/a", "/c"};
        QTest::newRow("round trip") << "" << both << false << true;
        QTest::newRow("no index") << "remove" << both << false << false;
        QTest::newRow("truncated") << "truncate" << both << false << false;
        QTest::newRow("header only") << "header" << both << false << false;
        QTest::newRow("corrupt checksum") << "flip a name" << both << false << false;
        QTest::newRow("other version") << "version" << both << false << false;
        QTest::newRow("other folders, same file name") << "" << QStringList{"/a"} << false << false;
        QTest::newRow("other options, same file name") << "" << both << true << false;
        QTest::newRow("hostile entry count") << "entries" << both << false << false;
        QTest::newRow("hostile folder count") << "count" << both << false << false;
        QTest::newRow("hostile text length") << "length" << both << false << false;
        QTest::newRow("sparse, as long as its lengths claim") << "sparse" << both << false << false;
        QTest::newRow("cache folder is a file") << "unwritable" << both << false << false;
    }
    void startUp()
    {
        QFETCH(QString, spoil);
        QFETCH(QStringList, folders);
        QFETCH(bool, subfolders);
        QFETCH(bool, loads);
        ResetModuleState();
        const QString cache = m_dir.filePath(QTest::currentDataTag());
        const PictureIndex index(cache);
        const QStringList written{"/a", "/c"};
        if (spoil == "unwritable") {
            // A file where the folder should be stops root as well.
            QVERIFY(vbtest::WriteFile(cache, ""));
            vbtest::StderrCapture capture;
            QVERIFY(!index.Save(written, {}, Indexed()));
            QCOMPARE(vbtest::ErrorLines(capture.Finish().toLocal8Bit()).size(), 1);
        } else {
            QVERIFY(index.Save(written, {}, Indexed()));
            // Nobody else's business: no group or other permissions on the folder.
            QCOMPARE(int(QFileInfo(cache).permissions() & 0x77), 0);
        }
        QByteArray bytes =
            spoil == "unwritable" ? QByteArray() : vbtest::ReadFile(index.FilePath(written, {}));
        const auto put32 = [&](int at, quint32 value) {
            qToLittleEndian(value, bytes.data() + at);
        };
        if (spoil == "truncate")
            bytes.chop(3);
        else if (spoil == "header")
            bytes.truncate(32);
        else if (spoil == "flip a name") // the first name's first byte, which the list returns
            bytes[32 + qFromLittleEndian<quint32>(bytes.data() + 16) +
                  8 * qFromLittleEndian<quint32>(bytes.data() + 20)] ^= 1;
        else if (spoil == "version")
            put32(8, 2);
        else if (spoil == "entries" || spoil == "sparse")
            put32(20, 0xffffffff);
        else if (spoil == "count")
            put32(32, 0x7fffffff);
        else if (spoil == "length")
            put32(36, 0xfffffff0);
        const CatalogueOptions options{subfolders, false};
        const QString file = index.FilePath(folders, options);
        if (spoil == "remove")
            QVERIFY(QFile::remove(file));
        else if (spoil != "unwritable")
            QVERIFY(vbtest::WriteFile(file, bytes));
        if (spoil == "sparse") // 34 GB of entries claimed, the file's size theirs, none of them there
            QVERIFY(
                QFile::resize(file, bytes.size() + 8 * (qint64(0xffffffff) - Indexed().Entries().size())));

        vbtest::FakeLister lister;
        lister.folders["/a/"].entries = {{"1.jpg"}};
        lister.folders["/c/"].entries = {{"3.bmp"}};
        QVERIFY(
            vbtest::WriteFile(m_dir.filePath("Lanternshade.ini"),
                              vbtest::SettingsFor(folders, subfolders ? "IncludeSubfolders=True\n" : "")));
        const QStringList walked =
            folders.size() == 1 ? QStringList{"/a/1.jpg"} : QStringList{"/a/1.jpg", "/c/3.bmp"};

        QCOMPARE(index.Load(folders, options), loads ? std::optional(Indexed()) : std::nullopt);
        // Kept, as the program keeps it, so that the walk aside takes over.
        const Catalogue catalogue =
            LoadSettings(SettingsStore(m_dir.filePath("Lanternshade.ini")), lister, &index);
        QCOMPARE(PictureList.ToStringList(), loads ? Indexed().ToStringList() : walked);
        // The walk's list takes over and is written for the next start.
        QTRY_COMPARE(PictureList.ToStringList(), walked);
        QTRY_COMPARE(DetachedThreadsRunning(), 0);
        const std::optional<PathList> next = index.Load(folders, options);
        QCOMPARE(next.has_value(), spoil != "unwritable");
        if (next)
            QCOMPARE(next->ToStringList(), walked);
    }
};

QTEST_GUILESS_MAIN(tst_PictureIndex)
#include "tst_pictureindex.moc"
