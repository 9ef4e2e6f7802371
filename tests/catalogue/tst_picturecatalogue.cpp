#include "PictureFiles.h"
#include "ProgramRun.h"
#include "TestSupport.h"
#include "catalogue/PictureCatalogue.h"
#include "picture/JpegDecoder.h"
#include "platform/files/FileNames.h"
#include "platform/files/RegularFile.h"
#include "platform/runtime/DetachedThread.h"
#include "platform/runtime/RuntimeError.h"
#include "state/ModuleState.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
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
    // With subfolders, "/share/" answers at once, and its subfolder "late" is the silent one.
    std::optional<FolderId> ListWithSubfolders(const QString& folder, const Wanted& wanted,
                                               const Found& found,
                                               const FoundFolder& subfolder) const override
    {
        if (folder != "/share/")
            List(folder, wanted, found);
        else
            found("a.jpg"), subfolder("late", {1, 2});
        return FolderId{};
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

// A catalogue of `folders` walked on this thread.
CatalogueBuilt Build(const QStringList& folders, const DirectoryLister& lister, CatalogueOptions options = {})
{
    return std::move(Catalogue({folders, options, std::nullopt, {}}, lister).Built());
}

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
        // Indices from 4 on come with AllPictureTypes only.
        QTest::newRow("png") << "z.png" << 4;
        QTest::newRow("WebP") << "z.WebP" << 5;
        QTest::newRow("tif") << "z.tif" << 6;
        QTest::newRow("TIFF upper") << "z.TIFF" << 7;
        QTest::newRow("heic") << "IMG_1234.HEIC" << 8;
        QTest::newRow("heif") << "z.heif" << 9;
        QTest::newRow("avif") << "z.avif" << 10;
        QTest::newRow("tiff prefix") << "z.tiffx" << -1;
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
        QCOMPARE(PicturePatternIndex(name.toStdString(), true), index);
        QCOMPARE(PicturePatternIndex(name.toStdString()), index < 4 ? index : -1);
    }

    // Pattern by pattern, and within a pattern in the folder's own order.
    void orderAcrossPatterns()
    {
        FakeLister lister;
        lister.folders["/p/"].entries = {{"b.gif"}, {"a.bmp"}, {"c.jpeg"},         {"d.jpg"}, {"e.BMP"},
                                         {"f.txt"}, {"g.Jpg"}, {"sub.jpg", false}, {".h.jpg"}};
        QCOMPARE(Build({"/p"}, lister).pictures.ToStringList(),
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
        const CatalogueBuilt built = Build({folder}, lister);
        QCOMPARE(lister.asked, QStringList{asked});
        QCOMPARE(built.pictures.ToStringList(), QStringList{asked + "a.jpg"});
    }

    void foldersInTheirOrder()
    {
        FakeLister lister;
        lister.folders["/p/"].entries = {{"a.jpg"}};
        lister.folders["/q/"].entries = {{"b.gif"}};
        const CatalogueBuilt built = Build({"/q", "/p", "/p/", "/missing"}, lister);
        QCOMPARE(built.pictures.ToStringList(), (QStringList{"/q/b.gif", "/p/a.jpg", "/p/a.jpg"}));
        QVERIFY(std::ranges::none_of(built.troubles, [](auto& trouble) { return trouble.has_value(); }));
    }

    // A failing listing: what the first of four pattern listings would have found before the
    // failing entry stays, and the error is the folder's trouble.
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
        const CatalogueBuilt built = Build({"/p"}, lister);
        QVERIFY(built.troubles[0] && !built.troubles[0]->timedOut);
        QCOMPARE(built.pictures.ToStringList(), kept);
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
        const QStringList found = Build({d}, PosixDirectoryLister()).pictures.ToStringList();
        QCOMPARE(found, expected);
        QVERIFY(found.contains(d + "/PHOTO.JPG"));
        QVERIFY(found.contains(d + "/link.bmp"));
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
        PictureList = Build({dir.path()}, PosixDirectoryLister()).pictures;
        QCOMPARE(PictureList.size(), 3);
        QVERIFY(PictureList.ToStringList().contains(DecodeFileName(folder + "/caf\xe9.jpg")));
        for (const QString& path : PictureList.ToStringList()) {
            QCOMPARE(PictureList.at(PictureList.IndexOf(path)), path);
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
        const CatalogueBuilt built = Build({dir.filePath("not-there")}, PosixDirectoryLister());
        QCOMPARE(built.pictures.ToStringList(), QStringList());
        QVERIFY(!built.troubles[0]);
    }

    void unreadableRealFolder()
    {
        if (geteuid() == 0)
            QSKIP("root reads every folder; run as another user to check permission errors");
        QTemporaryDir dir;
        QVERIFY(vbtest::WriteFile(dir.filePath("locked/a.jpg"), "x"));
        QVERIFY(QFile::setPermissions(dir.filePath("locked"), QFileDevice::WriteOwner));
        const CatalogueBuilt built = Build({dir.filePath("locked")}, PosixDirectoryLister());
        QVERIFY(built.troubles[0] && !built.troubles[0]->timedOut);
        QFile::setPermissions(dir.filePath("locked"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    // A listing that does not answer in time is the folder's ListingTimedOut; what comes before it
    // in the walk is in the list at once. When it answers later, the rest joins, unless the
    // catalogue was built anew meanwhile.
    void listingPastItsDeadline_data()
    {
        QTest::addColumn<bool>("builtAnew");
        QTest::addColumn<bool>("subfolders");
        QTest::addColumn<QStringList>("atOnce");
        QTest::addColumn<QStringList>("joined");
        QTest::newRow("same catalogue") << false << false << QStringList() << QStringList{"/share/late.jpg"};
        QTest::newRow("catalogue built anew") << true << false << QStringList() << QStringList();
        QTest::newRow("a subfolder stalls")
            << false << true << QStringList{"/share/a.jpg"} << QStringList{"/share/late/late.jpg"};
    }
    void listingPastItsDeadline()
    {
        QFETCH(bool, builtAnew);
        QFETCH(bool, subfolders);
        QFETCH(QStringList, atOnce);
        QFETCH(QStringList, joined);
        // Outlives the test function, as a lister outlives the program's event loop.
        static std::vector<std::unique_ptr<SilentLister>> listers;
        SilentLister* lister = listers.emplace_back(std::make_unique<SilentLister>()).get();
        QElapsedTimer timer;
        timer.start();
        Catalogue catalogue({{"/share"}, {subfolders, false}, std::chrono::milliseconds(100), {}}, *lister);
        QVERIFY(timer.elapsed() < 2000);
        QVERIFY(catalogue.Built().troubles[0] && catalogue.Built().troubles[0]->timedOut);
        QCOMPARE(catalogue.Built().pictures.ToStringList(), atOnce);
        QStringList late;
        bool complete = false;
        catalogue.DeliverLate([&](PathList pictures) { late += pictures.ToStringList(); },
                              [&] { complete = true; });
        if (builtAnew)
            catalogue = Catalogue();
        lister->LetGo();
        QTRY_COMPARE(DetachedThreadsRunning(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(late, joined);
        QCOMPARE(complete, !builtAnew);
    }

    // Readers that answer in any order settle the walk as one reader in walk order does: the same
    // pictures in the same order, and of two ways to one folder the same one. Each folder is
    // "path: pictures | subfolder=id ... @own id", the ids letters, the root's "R"; a folder's own
    // id differs from the one its folder's listing gives at a mount point.
    void walkInAnyOrder_data()
    {
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QStringList>("pictures");
        QTest::newRow("deep tree") << QStringList{"r: a.jpg | s=S t=T", "r/s: b.jpg | u=U", "r/s/u: c.jpg",
                                                  "r/t: d.jpg"}
                                   << QStringList{"r/a.jpg", "r/s/b.jpg", "r/s/u/c.jpg", "r/t/d.jpg"};
        // A later branch reads its way to c before the earlier branch's link to c is found.
        QTest::newRow("link found late in an earlier branch")
            << QStringList{"r: | a=A b=B",   "r/a: | x=X",       "r/a/x: | l=C",
                           "r/a/x/l: c.jpg", "r/b: b.jpg | c=C", "r/b/c: c.jpg"}
            << QStringList{"r/a/x/l/c.jpg", "r/b/b.jpg"};
        QTest::newRow("link and folder side by side")
            << QStringList{"r: | l=T t=T", "r/l: p.jpg", "r/t: p.jpg"} << QStringList{"r/l/p.jpg"};
        QTest::newRow("mount point reached by a link first")
            << QStringList{"r: | a=A m=X", "r/a: | l=M", "r/a/l: p.jpg @M", "r/m: p.jpg @M"}
            << QStringList{"r/a/l/p.jpg"};
        QTest::newRow("links back up") << QStringList{"r: a.jpg | s=S", "r/s: b.jpg | up=R self=S"}
                                       << QStringList{"r/a.jpg", "r/s/b.jpg"};
    }
    void walkInAnyOrder()
    {
        QFETCH(QStringList, tree);
        QFETCH(QStringList, pictures);
        const auto read = [&](const QString& folder) {
            FolderReading reading;
            const QStringList line = tree.filter(QRegularExpression("^" + folder.chopped(1) + ":"));
            if (line.isEmpty())
                return reading;
            const qsizetype own = line[0].indexOf('@');
            reading.id = FolderId{0, quint64(folder == "r/" ? 'R'
                                             : own > 0      ? line[0].at(own + 1).unicode()
                                                            : 0)};
            const QStringList parts = line[0].section(':', 1).section('@', 0, 0).split('|');
            const quint32 at = reading.pictures.AddFolder(folder);
            for (const QString& name : parts[0].split(' ', Qt::SkipEmptyParts))
                reading.pictures.Append(at, name.toStdString());
            for (const QString& sub : parts.value(1).split(' ', Qt::SkipEmptyParts))
                reading.subfolders.emplace_back(folder + sub.section('=', 0, 0) + "/",
                                                FolderId{0, quint64(sub.section('=', 1).at(0).unicode())});
            return reading;
        };
        for (const char* order : {"one at a time", "all at once", "all at once, last first"}) {
            FolderTreeWalk walk("r/");
            QStringList found;
            while (!walk.Finished()) {
                std::vector<FolderTreeWalk::Pending> taken;
                while (const std::optional<FolderTreeWalk::Pending> next = walk.TakeNext()) {
                    taken.push_back(*next);
                    if (order[0] == 'o')
                        break;
                }
                QVERIFY(!taken.empty());
                if (std::strstr(order, "last first"))
                    std::reverse(taken.begin(), taken.end());
                for (FolderTreeWalk::Pending& next : taken)
                    walk.Deliver(next.node, read(next.folder));
                found += walk.TakeSettled().ToStringList();
            }
            QVERIFY2(found == pictures, qPrintable(order + (": " + found.join(' '))));
        }
    }

    // The walk through a chosen folder's tree "r": entries are files, links ("path -> target") and
    // folders made unreadable ("!path"). Fake rows list each folder in the order its entries come;
    // real rows walk as start-up does, as an ordinary user, both options on, trees whose order
    // does not hang on the file system's.
    void treeWalk_data()
    {
        QTest::addColumn<bool>("real");
        QTest::addColumn<bool>("options"); // IncludeSubfolders and AllPictureTypes
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QStringList>("pictures");
        QTest::addColumn<QString>("warning"); // a regular expression; empty: none
        const QStringList deep{"r/b.jpg",   "r/y/d.jpg", "r/a.bmp",   "r/y/z/e.png",
                               "r/x/f.gif", "r/c.heic",  "r/.k/h.jpg"};
        QTest::newRow("deep tree, own pictures first")
            << false << true << deep
            << QStringList{"r/a.bmp", "r/b.jpg", "r/c.heic", "r/y/d.jpg", "r/y/z/e.png", "r/x/f.gif"} << "";
        QTest::newRow("options off") << false << false << deep << QStringList{"r/a.bmp", "r/b.jpg"} << "";
        QTest::newRow("link loop ends")
            << true << true << QStringList{"r/a.jpg", "r/sub/b.jpg", "r/sub/up -> r", "r/sub/self -> r/sub"}
            << QStringList{"r/a.jpg", "r/sub/b.jpg"} << "";
        QTest::newRow("link to a folder the root's link reaches first")
            << true << true << QStringList{"r/s/t/p.jpg", "r/link -> r/s/t"} << QStringList{"r/link/p.jpg"}
            << "";
        QTest::newRow("link to a folder outside followed")
            << true << true << QStringList{"out/x.png", "r/a.jpg", "r/photos -> out"}
            << QStringList{"r/a.jpg", "r/photos/x.png"} << "";
        QTest::newRow("unreadable subfolders skipped, one warning")
            << true << true
            << QStringList{"r/a.jpg", "r/no/b.jpg", "r/open/c.jpg", "r/open/no/d.jpg", "!r/no", "!r/open/no"}
            << QStringList{"r/a.jpg", "r/open/c.jpg"}
            << "vellumbright: warning: skipped 2 subfolders that could not be read, the first: cannot list "
               "folder \".*/r/(open/)?no/\": Permission denied";
    }
    void treeWalk()
    {
        QFETCH(bool, real);
        QFETCH(bool, options);
        QFETCH(QStringList, tree);
        QFETCH(QStringList, pictures);
        QFETCH(QString, warning);
        vbtest::ProgramRun run;
        FakeLister lister;
        const QString base = real ? run.Path("t") : "/t";
        for (const QString& entry : tree) {
            const QString path = base + "/" + entry.section(" -> ", 0, 0);
            // Each name enters the fake's folder once, where it first turns up.
            QString folder = base + "/";
            for (const QString& part : entry.split('/')) {
                auto& entries = lister.folders[folder].entries;
                if (std::ranges::none_of(entries, [&](auto& e) { return e.name == part.toStdString(); }))
                    entries.push_back({part.toStdString(), true, folder + part != path});
                folder += part + "/";
            }
            if (real && entry.contains(" -> "))
                QVERIFY(QFile::link(base + "/" + entry.section(" -> ", 1), path));
            else if (real && !entry.startsWith('!'))
                QVERIFY(vbtest::WriteFile(path, "x"));
        }
        QStringList found;
        QString errors;
        if (real) {
            QVERIFY(run.AsUser());
            for (const QString& entry : tree.filter(QRegularExpression("^!")))
                QVERIFY(QFile::setPermissions(base + "/" + entry.mid(1), {}));
            run.SetProgram(QCoreApplication::applicationFilePath());
            QVERIFY(run.Run({"--walk", base + "/r"}));
            found = QString::fromLocal8Bit(run.out).split('\n', Qt::SkipEmptyParts);
            errors = QString::fromLocal8Bit(run.err);
        } else {
            found = Build({base + "/r"}, lister, {options, options}).pictures.ToStringList();
        }
        QCOMPARE(found.replaceInStrings(base + "/", ""), pictures);
        QVERIFY2(QRegularExpression("^" + warning + "\n?$").match(errors).hasMatch(), qPrintable(errors));
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The child of the real tree walks: PictureList on standard output, warnings on standard error.
    if (argc == 3 && std::strcmp(argv[1], "--walk") == 0) {
        static const PosixDirectoryLister lister;
        Catalogue catalogue({{DecodeFileName(argv[2])}, {true, true}, ListingDeadline, {}}, lister);
        catalogue.Built().skipped.WriteWarning();
        std::printf("%s\n", EncodeFileName(catalogue.Built().pictures.ToStringList().join('\n')).constData());
        return 0;
    }
    tst_PictureCatalogue test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_picturecatalogue.moc"
