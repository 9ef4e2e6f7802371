#include "PictureFiles.h"
#include "TestSupport.h"
#include "picture/JpegDecoder.h"
#include "platform/files/FileNames.h"
#include "platform/files/RegularFile.h"
#include "platform/runtime/DetachedThread.h"
#include "platform/runtime/RuntimeError.h"
#include "settings/PictureCatalogue.h"
#include "state/ModuleState.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

using namespace vb;
using vbtest::FakeLister;

namespace {

// A folder of one picture whose listing does not answer until let go, like a share gone to
// sleep.
class SilentLister final : public DirectoryLister
{
public:
    void List(const QString&, const Wanted&, const Found& found) const override
    {
        std::unique_lock lock(m_mutex);
        m_answer.wait(lock, [this] { return m_letGo; });
        found("late.jpg");
    }
    void LetGo()
    {
        const std::lock_guard lock(m_mutex);
        m_letGo = true;
        m_answer.notify_all();
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_answer;
    bool m_letGo = false;
};

} // namespace

class tst_PictureCatalogue : public QObject
{
    Q_OBJECT

private slots:
    void init() { ResetModuleState(); }

    void patternIndex_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("index");
        QTest::newRow("bmp") << "a.bmp" << 0;
        QTest::newRow("jpg") << "a.jpg" << 1;
        QTest::newRow("JPG upper") << "PHOTO.JPG" << 1;
        QTest::newRow("jpeg") << "a.jpeg" << 2;
        QTest::newRow("JpEg mixed") << "a.JpEg" << 2;
        QTest::newRow("gif") << "a.gif" << 3;
        QTest::newRow("two extensions") << "a.gif.jpg" << 1;
        QTest::newRow("png") << "z.png" << -1;
        QTest::newRow("no dot") << "jpg" << -1;
        QTest::newRow("jpe") << "a.jpe" << -1;
        QTest::newRow("jpg prefix") << "a.jpgx" << -1;
        QTest::newRow("space after") << "a.jpg " << -1;
        QTest::newRow("bare extension") << ".gif" << 3;
        QTest::newRow("empty") << "" << -1;
    }
    void patternIndex()
    {
        QFETCH(QString, name);
        QFETCH(int, index);
        QCOMPARE(PicturePatternIndex(name.toStdString()), index);
    }

    // Pattern by pattern, and within a pattern in the folder's own order.
    void orderAcrossPatterns()
    {
        FakeLister lister;
        lister.folders["/p/"].entries = {{"b.gif"}, {"a.bmp"}, {"c.jpeg"},         {"d.jpg"}, {"e.BMP"},
                                         {"f.txt"}, {"g.Jpg"}, {"sub.jpg", false}, {".h.jpg"}};
        AddPicturesFromFolder("/p", lister);
        QCOMPARE(PictureList,
                 (QStringList{"/p/a.bmp", "/p/e.BMP", "/p/d.jpg", "/p/g.Jpg", "/p/c.jpeg", "/p/b.gif"}));
    }

    void folderText_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("asked");
        QTest::newRow("without slash") << "/p"
                                       << "/p/";
        QTest::newRow("with slash") << "/p/"
                                    << "/p/";
        QTest::newRow("root") << "/"
                              << "/";
        QTest::newRow("empty is the root") << ""
                                           << "/";
        QTest::newRow("relative") << "pics"
                                  << "pics/";
    }
    void folderText()
    {
        QFETCH(QString, folder);
        QFETCH(QString, asked);
        FakeLister lister;
        lister.folders[asked].entries = {{"a.jpg"}};
        AddPicturesFromFolder(folder, lister);
        QCOMPARE(lister.asked, QStringList{asked});
        QCOMPARE(PictureList, QStringList{asked + "a.jpg"});
    }

    void appendsToWhatIsThere()
    {
        FakeLister lister;
        lister.folders["/p/"].entries = {{"a.jpg"}};
        PictureList = {"/earlier.gif"};
        AddPicturesFromFolder("/p", lister);
        AddPicturesFromFolder("/p/", lister);
        AddPicturesFromFolder("/missing", lister);
        QCOMPARE(PictureList, (QStringList{"/earlier.gif", "/p/a.jpg", "/p/a.jpg"}));
    }

    // A failing listing: what the first of four pattern listings would have found before the
    // failing entry stays, and the error goes on to the caller.
    void failingListing_data()
    {
        QTest::addColumn<int>("failAfter");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("at once") << 0 << QStringList();
        QTest::newRow("after two") << 2 << QStringList{"/p/a.bmp"};
        QTest::newRow("at the end") << 4 << QStringList{"/p/a.bmp", "/p/c.bmp"};
    }
    void failingListing()
    {
        QFETCH(int, failAfter);
        QFETCH(QStringList, kept);
        FakeLister lister;
        lister.folders["/p/"].entries = {{"a.bmp"}, {"b.jpg"}, {"c.bmp"}, {"d.gif"}};
        lister.folders["/p/"].failAfter = failAfter;
        QVERIFY_THROWS_EXCEPTION(RuntimeError, AddPicturesFromFolder("/p", lister));
        QCOMPARE(PictureList, kept);
    }

    // The same against a real folder: links, hidden files, subfolders and the folder's order.
    void realFolder()
    {
        QTemporaryDir dir;
        const QString d = dir.path();
        for (const char* name :
             {"b.gif", "a.bmp", "c.jpeg", "d.jpg", "PHOTO.JPG", "z.png", ".y.jpg", "sub/deep.jpg"})
            QVERIFY(vbtest::WriteFile(d + "/" + name, "x"));
        QVERIFY(QDir(d).mkdir("x.jpg"));
        QVERIFY(QFile::link(d + "/a.bmp", d + "/link.bmp"));
        QVERIFY(QFile::link(d + "/gone.gif", d + "/broken.gif"));

        QStringList expected;
        for (const char* extension : {".bmp", ".jpg", ".jpeg", ".gif"}) {
            for (const auto& entry : std::filesystem::directory_iterator(d.toStdString())) {
                const QString name = QString::fromStdString(entry.path().filename().string());
                if (name.endsWith(extension, Qt::CaseInsensitive) && !name.startsWith('.') &&
                    entry.is_regular_file())
                    expected.append(d + "/" + name);
            }
        }
        QCOMPARE(expected.size(), 6);
        AddPicturesFromFolder(d, PosixDirectoryLister());
        QCOMPARE(PictureList, expected);
        QVERIFY(PictureList.contains(d + "/PHOTO.JPG"));
        QVERIFY(PictureList.contains(d + "/link.bmp"));
    }

    // Names that are not UTF-8 keep their bytes from the listing to the decoders, which open
    // them; only what is shown turns the strange bytes into replacement characters.
    void namesInAnyEncoding()
    {
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path());
        for (const char* name : {"caf\xe9.jpg", "\xff\xfe.bmp", "cut\xe2\x82.jpg"}) {
            const QString made = dir.filePath(name[0] == 'c' ? "made.jpg" : "made.bmp");
            QVERIFY(vbtest::SavePicture(made, vbtest::Solid(QSize(16, 8), Qt::red),
                                        name[0] == 'c' ? "jpg" : "bmp"));
            QCOMPARE(std::rename(QFile::encodeName(made).constData(), folder + '/' + name), 0);
        }
        AddPicturesFromFolder(dir.path(), PosixDirectoryLister());
        QCOMPARE(PictureList.size(), 3);
        QVERIFY(PictureList.contains(DecodeFileName(folder + "/caf\xe9.jpg")));
        for (const QString& path : PictureList) {
            QFile file;
            OpenRegularFile(file, path);
            QImageReader reader(&file);
            QCOMPARE(reader.read().size(), QSize(16, 8));
            if (path.endsWith(".jpg")) {
                QImage into(16, 8, QImage::Format_RGB32);
                QString why;
                QCOMPARE(JpegDecoder::DecodeRegion(path, into.rect(), into, 1 << 20, &why),
                         JpegDecoder::Result::Done);
            }
            QVERIFY(!DisplayFileName(path).contains(QChar(0xdce9)));
        }
        QCOMPARE(DisplayFileName(DecodeFileName(folder + "/caf\xe9.jpg")),
                 dir.path() + QString::fromUtf8("/caf\xef\xbf\xbd.jpg"));
    }

    void realMissingFolder()
    {
        QTemporaryDir dir;
        AddPicturesFromFolder(dir.filePath("not-there"), PosixDirectoryLister());
        QCOMPARE(PictureList, QStringList());
    }

    void unreadableRealFolder()
    {
        if (geteuid() == 0)
            QSKIP("root reads every folder; run as another user to check permission errors");
        QTemporaryDir dir;
        QVERIFY(vbtest::WriteFile(dir.filePath("locked/a.jpg"), "x"));
        QVERIFY(QFile::setPermissions(dir.filePath("locked"), QFileDevice::WriteOwner));
        QVERIFY_THROWS_EXCEPTION(RuntimeError,
                                 AddPicturesFromFolder(dir.filePath("locked"), PosixDirectoryLister()));
        QFile::setPermissions(dir.filePath("locked"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    // A listing that does not answer in time adds nothing and raises ListingTimedOut; when it
    // answers later its pictures join PictureList, unless the catalogue was built anew meanwhile.
    void listingPastItsDeadline_data()
    {
        QTest::addColumn<bool>("builtAnew");
        QTest::addColumn<QStringList>("joined");
        QTest::newRow("same catalogue") << false << QStringList{"/share/late.jpg"};
        QTest::newRow("catalogue built anew") << true << QStringList();
    }
    void listingPastItsDeadline()
    {
        QFETCH(bool, builtAnew);
        QFETCH(QStringList, joined);
        // Outlives the test function, as a lister outlives the program's event loop.
        static std::vector<std::unique_ptr<SilentLister>> listers;
        SilentLister* lister = listers.emplace_back(std::make_unique<SilentLister>()).get();
        StartCatalogue();
        PictureList = {"/first/a.jpg"};
        QElapsedTimer timer;
        timer.start();
        QVERIFY_THROWS_EXCEPTION(
            ListingTimedOut, AddPicturesFromFolderWithin("/share", *lister, std::chrono::milliseconds(100)));
        QVERIFY(timer.elapsed() < 2000);
        QCOMPARE(PictureList, QStringList{"/first/a.jpg"});
        if (builtAnew)
            StartCatalogue();
        const QStringList before = PictureList;
        lister->LetGo();
        QTRY_COMPARE(DetachedThreadsRunning(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(PictureList, before + joined);
    }
};

QTEST_GUILESS_MAIN(tst_PictureCatalogue)
#include "tst_picturecatalogue.moc"
