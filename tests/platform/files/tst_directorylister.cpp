#include "TestSupport.h"
#include "platform/files/DirectoryLister.h"
#include "platform/runtime/RuntimeError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using namespace vb;

namespace {

QStringList ListAll(const QString& folder)
{
    QStringList names;
    PosixDirectoryLister().List(
        folder, [](std::string_view) { return true; },
        [&](std::string_view name) { names.append(QString::fromUtf8(name.data(), qsizetype(name.size()))); });
    return names;
}

} // namespace

class tst_DirectoryLister : public QObject
{
    Q_OBJECT

private slots:
    void onlyOrdinaryVisibleFiles()
    {
        QTemporaryDir dir;
        const QString d = dir.path();
        QVERIFY(vbtest::WriteFile(d + "/plain.jpg", "x"));
        QVERIFY(vbtest::WriteFile(d + "/.hidden.jpg", "x"));
        QVERIFY(vbtest::WriteFile(d + "/sub/inside.jpg", "x"));
        QVERIFY(QDir(d).mkdir("folder.jpg"));
        QVERIFY(QDir(d).mkdir(".hidden-folder"));
        QVERIFY(QFile::link(d + "/plain.jpg", d + "/link-to-file.jpg"));
        QVERIFY(QFile::link(d + "/sub", d + "/link-to-folder.jpg"));
        QVERIFY(QFile::link(d + "/missing.jpg", d + "/broken.jpg"));
        QVERIFY(QFile::link(d + "/loop-b.jpg", d + "/loop-a.jpg"));
        QVERIFY(QFile::link(d + "/loop-a.jpg", d + "/loop-b.jpg"));
        QCOMPARE(mkfifo(QFile::encodeName(d + "/pipe.jpg").constData(), 0600), 0);

        QStringList names = ListAll(d);
        names.sort();
        QCOMPARE(names, (QStringList{"link-to-file.jpg", "plain.jpg"}));

        // Asked for subfolders too: the same files, and the visible folders, links followed.
        std::map<std::string, FolderId> folders;
        PosixDirectoryLister().ListWithSubfolders(
            d, [](std::string_view) { return true; },
            [&](std::string_view name) {
                names.removeOne(QString::fromUtf8(name.data(), qsizetype(name.size())));
            },
            [&](std::string_view name, FolderId id) { folders[std::string(name)] = id; });
        QVERIFY(names.isEmpty() && folders.size() == 3 && folders.count("folder.jpg"));
        QCOMPARE(folders["link-to-folder.jpg"], folders["sub"]);
    }

    void wantedFiltersFirst()
    {
        QTemporaryDir dir;
        QVERIFY(vbtest::WriteFile(dir.filePath("a.jpg"), "x"));
        QVERIFY(vbtest::WriteFile(dir.filePath("b.txt"), "x"));
        QStringList asked, found;
        PosixDirectoryLister().List(
            dir.path(),
            [&](std::string_view name) {
                asked.append(QString::fromUtf8(name.data(), qsizetype(name.size())));
                return name.ends_with(".jpg");
            },
            [&](std::string_view name) {
                found.append(QString::fromUtf8(name.data(), qsizetype(name.size())));
            });
        asked.sort();
        QCOMPARE(asked, (QStringList{"a.jpg", "b.txt"}));
        QCOMPARE(found, QStringList{"a.jpg"});
    }

    // The names come in the file system's own order, the one readdir gives; nothing is sorted.
    // Also where the folder takes more than one read of the lister's buffer.
    void directoryOrder_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("length"); // of each name
        QTest::newRow("300 entries") << 300 << 8;
        QTest::newRow("beyond one buffer") << 3000 << 100;
    }
    void directoryOrder()
    {
        QFETCH(int, count);
        QFETCH(int, length);
        QTemporaryDir dir;
        for (int i = 0; i < count; ++i)
            QVERIFY(vbtest::WriteFile(
                dir.filePath(QString("f%1.jpg").arg((i * 7919) % (count * 3), length - 4, 10, QChar('0'))),
                "x"));
        QStringList expected;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path().toStdString()))
            expected.append(QString::fromStdString(entry.path().filename().string()));
        QCOMPARE(ListAll(dir.path()), expected);
    }

    void missingOrNotAFolder_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::newRow("missing") << "nothing-here";
        QTest::newRow("missing with slash") << "nothing-here/";
        QTest::newRow("below a missing folder") << "a/b/c";
        QTest::newRow("a file") << "file.jpg";
        QTest::newRow("below a file") << "file.jpg/x";
    }
    void missingOrNotAFolder()
    {
        QFETCH(QString, relative);
        QTemporaryDir dir;
        QVERIFY(vbtest::WriteFile(dir.filePath("file.jpg"), "x"));
        QCOMPARE(ListAll(dir.filePath(relative)), QStringList());
    }

    void unreadableFolderIsAnError()
    {
        if (geteuid() == 0)
            QSKIP("root reads every folder; run as another user to check permission errors");
        QTemporaryDir dir;
        QVERIFY(vbtest::WriteFile(dir.filePath("locked/a.jpg"), "x"));
        QVERIFY(QFile::setPermissions(dir.filePath("locked"), QFileDevice::WriteOwner));
        try {
            ListAll(dir.filePath("locked"));
            QFAIL("listing an unreadable folder succeeded");
        } catch (const RuntimeError& e) {
            QCOMPARE(e.code(), ErrorCode::PermissionDenied);
            QVERIFY2(e.cause().contains("locked"), qPrintable(e.cause()));
        }
        QFile::setPermissions(dir.filePath("locked"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void nonUtf8Name()
    {
        QTemporaryDir dir;
        const QByteArray name = QByteArray("caf\xe9.jpg");
        const int fd =
            ::open((QFile::encodeName(dir.path()) + "/" + name).constData(), O_CREAT | O_WRONLY, 0600);
        QVERIFY(fd >= 0);
        ::close(fd);
        std::vector<std::string> raw;
        PosixDirectoryLister().List(
            dir.path(), [](std::string_view) { return true; },
            [&](std::string_view n) { raw.emplace_back(n); });
        QCOMPARE(raw.size(), size_t(1));
        QCOMPARE(QByteArray::fromStdString(raw[0]), name);
    }
};

QTEST_GUILESS_MAIN(tst_DirectoryLister)
#include "tst_directorylister.moc"
