#include "HostWindow.h"
#include "PictureFiles.h"
#include "ProgramRun.h"
#include "ScreenChecks.h"
#include "StallMount.h"
#include "TestSupport.h"
#include "platform/x11/X11Windows.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <algorithm>
#include <memory>
#include <sys/stat.h>
#include <xcb/xcb.h>

// The real program under the test's X server (1280 x 1024, no window manager), started as a
// screen saver would start it, watched with screenshots and driven with xdotool.
using vbtest::NearAt;
using vbtest::ProgramRun;
using vbtest::Screenshot;
using vbtest::ShowsQuadrants;
using vbtest::Xdotool;

namespace {

const QSize ScreenSize(1280, 1024);

// A full-screen picture of 200 x 100 in the middle of the screen, black around it.
bool FullScreenPictureShown(const QImage& screen)
{
    return ShowsQuadrants(screen, QRect(540, 462, 200, 100)) && NearAt(screen, QPoint(0, 0), qRgb(0, 0, 0)) &&
           NearAt(screen, QPoint(1279, 1023), qRgb(0, 0, 0));
}

// The red cross of a picture that cannot be shown, black around it.
bool CrossShown(const QImage& screen)
{
    return NearAt(screen, QPoint(640, 512), qRgb(255, 0, 0)) &&
           NearAt(screen, QPoint(640, 100), qRgb(0, 0, 0));
}

// The quadrant picture of 6000 x 4000 fitted to the screen: 1280 x 853.3 from row 85.3, each
// quadrant at its corner, black above and below.
bool FittedPhotoShown(const QImage& screen)
{
    return NearAt(screen, QPoint(6, 92), qRgb(255, 0, 0)) &&
           NearAt(screen, QPoint(1273, 92), qRgb(0, 255, 0)) &&
           NearAt(screen, QPoint(6, 931), qRgb(0, 0, 255)) &&
           NearAt(screen, QPoint(1273, 931), qRgb(255, 255, 0)) &&
           NearAt(screen, QPoint(640, 80), qRgb(0, 0, 0)) && NearAt(screen, QPoint(640, 943), qRgb(0, 0, 0));
}

// The preview's window: the one window named "Preview"; 0 when there is none or more.
vb::x11::WindowId PreviewWindow()
{
    QProcess search;
    search.start("xdotool", {"search", "--name", "^Preview$"});
    search.waitForFinished();
    const QList<QByteArray> found = search.readAllStandardOutput().trimmed().split('\n');
    return found.size() == 1 ? vb::x11::WindowId(found[0].toULongLong()) : 0;
}

// The screen as it is now, read here in a few milliseconds rather than by `import`, which takes
// half a second.
QImage ScreenNow()
{
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

// Milliseconds from the run's start until the quadrants of 200x100 show in the middle of a
// 1280x1024 screen, waited for up to 10 s; -1 if they never do.
// Publishes `icc` on the root window as the first monitor's profile, as colord does (xprop sets
// at most 64 bytes); empty deletes it, which Qt reads too. Back from the X server on return.
void SetMonitorProfile(const QByteArray& icc)
{
    xcb_connection_t* c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 12, "_ICC_PROFILE"), nullptr), &std::free);
    if (icc.isEmpty())
        xcb_delete_property(c, root, atom->atom);
    else
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, atom->atom, XCB_ATOM_CARDINAL, 8,
                            uint32_t(icc.size()), icc.constData());
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

qint64 QuadrantsShownAfter(const ProgramRun& run)
{
    QElapsedTimer waited;
    waited.start();
    do {
        if (ShowsQuadrants(ScreenNow(), QRect(540, 462, 200, 100)))
            return run.SinceStart();
        QTest::qWait(20);
    } while (waited.elapsed() < 10000);
    return -1;
}

// The process ids of the loading helpers the run `pid` has started and that still run.
QStringList LoadingHelpers(qint64 pid)
{
    QStringList helpers;
    const QString tasks = QString("/proc/%1/task/").arg(pid);
    // Each thread's children are its own: a helper is replaced from the old one's reader thread.
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        for (const QString& child :
             QString::fromLatin1(vbtest::ReadFile(tasks + task + "/children")).split(' ', Qt::SkipEmptyParts))
            if (vbtest::ReadFile("/proc/" + child + "/cmdline").startsWith("vellumbright-loading-helper"))
                helpers.append(child);
    return helpers;
}

} // namespace

class tst_Slideshow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_pictures;
    QByteArray m_settings; // one folder, the quadrant picture in it

private slots:
    void initTestCase()
    {
        QVERIFY2(vb::x11::Available(), "this test needs an X server and the xcb platform");
        QCOMPARE(QGuiApplication::primaryScreen()->size(), ScreenSize);
        QVERIFY(vbtest::SavePicture(m_pictures.filePath("quadrants.bmp"), vbtest::Quadrants(QSize(200, 100)),
                                    "bmp"));
        m_settings = vbtest::SettingsFor({m_pictures.path()}, "Interval=60\nShowFileNames=False\n");
    }
    void init() { QVERIFY(Xdotool({"mousemove", "10", "10"})); }

    // "/S" covers the screen in black with the picture centred at its own size, and ends with
    // status 0, silent, on a key, a click, a one-pixel move after the first report, SIGTERM or
    // SIGINT. A picture that cannot be shown gives the cross and says nothing on standard error.
    // FitLargePictures: a 6000 x 4000 photo shows whole on the screen. A picture in a folder that a
    // link in the chosen folder leads to shows too, though the helper may read only what it is given.
    void fullScreen_data()
    {
        QTest::addColumn<QString>("picture");
        QTest::addColumn<int>("ending");
        QTest::newRow("key") << "quadrants" << int(ProgramRun::Key);
        QTest::newRow("click") << "quadrants" << int(ProgramRun::Click);
        QTest::newRow("one-pixel move after the first report") << "quadrants" << int(ProgramRun::Move);
        QTest::newRow("SIGTERM") << "quadrants" << int(ProgramRun::Term);
        QTest::newRow("SIGINT") << "quadrants" << int(ProgramRun::Interrupt);
        QTest::newRow("failing picture is silent") << "no data" << int(ProgramRun::Key);
        QTest::newRow("fitted large photo") << "large photo" << int(ProgramRun::Key);
        QTest::newRow("behind a link to a folder elsewhere") << "linked" << int(ProgramRun::Key);
    }
    void fullScreen()
    {
        QFETCH(QString, picture);
        QFETCH(int, ending);
        ProgramRun run(m_settings);
        run.UnsetEnv("QT_LOGGING_RULES");
        bool (*shown)(const QImage&) = FullScreenPictureShown;
        const QString folder = run.Path("pictures");
        if (picture == "no data") {
            const QString path = folder + "/no-data.jpg";
            QVERIFY(vbtest::SavePicture(path, vbtest::Solid(QSize(64, 64), Qt::blue), "jpg"));
            const QByteArray jpeg = vbtest::ReadFile(path);
            QVERIFY(vbtest::WriteFile(path, jpeg.left(jpeg.indexOf("\xff\xda"))));
            QVERIFY(vbtest::WriteFile(run.SettingsFile(), vbtest::SettingsFor({folder})));
            shown = CrossShown;
        } else if (picture == "large photo") {
            QVERIFY(
                vbtest::SavePicture(folder + "/photo.jpg", vbtest::Quadrants(QSize(6000, 4000)), "jpg", 90));
            QVERIFY(vbtest::WriteFile(
                run.SettingsFile(),
                vbtest::SettingsFor({folder},
                                    "ShowFileNames=True\nFitLargePictures=True\nOutlineFileNames=True\n")));
            shown = FittedPhotoShown;
        } else if (picture == "linked") {
            QVERIFY(vbtest::SavePicture(run.Path("elsewhere/quadrants.bmp"),
                                        vbtest::Quadrants(QSize(200, 100)), "bmp"));
            QVERIFY(QDir().mkpath(folder) && QFile::link(run.Path("elsewhere"), folder + "/link"));
            QVERIFY(vbtest::WriteFile(
                run.SettingsFile(),
                vbtest::SettingsFor({folder}, "Interval=60\nShowFileNames=False\nIncludeSubfolders=True\n")));
        }
        run.ShowThenEnd({"/S"}, shown, ProgramRun::Ending(ending));
        QCOMPARE(run.Check(0), QString());
        QTRY_VERIFY(!NearAt(Screenshot(), QPoint(545, 467), qRgb(255, 0, 0)));
    }

    // The picture goes away after the scan, or something that is no file takes its place: the
    // next change draws the cross, and the run goes on and still ends on a key.
    void pictureGoneAfterTheScan_data()
    {
        QTest::addColumn<QString>("replacement");
        QTest::newRow("deleted") << "nothing";
        QTest::newRow("replaced by a pipe") << "pipe";
        QTest::newRow("replaced by a folder") << "folder";
    }
    void pictureGoneAfterTheScan()
    {
        QFETCH(QString, replacement);
        ProgramRun run;
        const QString picture = run.Path("pictures/quadrants.bmp");
        QVERIFY(vbtest::SavePicture(picture, vbtest::Quadrants(QSize(200, 100)), "bmp"));
        QVERIFY(vbtest::WriteFile(run.SettingsFile(),
                                  vbtest::SettingsFor({run.Path("pictures")}, "Interval=1\n")));
        QVERIFY(run.Start({"/S"}) && run.WaitForScreen(FullScreenPictureShown));

        QVERIFY(QFile::remove(picture));
        if (replacement == "pipe")
            QCOMPARE(mkfifo(QFile::encodeName(picture).constData(), 0600), 0);
        else if (replacement == "folder")
            QVERIFY(QDir().mkdir(picture));
        QVERIFY(run.WaitForScreen(CrossShown));
        run.End(ProgramRun::Key);
        QCOMPARE(run.Check(0), QString());
    }

    // A share whose reads or listings stopped answering, beside a folder that answers: once the
    // share has a request waiting, a key or SIGTERM ends the program within 1 s, with status 0.
    // Shuffled, so that the answering folder's picture shows by the second change: random picks
    // could take the stalled one change after change, past the wait for the first picture.
    void endsWhileShareStalls_data()
    {
        QTest::addColumn<int>("stalled");
        QTest::addColumn<int>("ending");
        for (const auto stalled : {vbtest::StallMount::Reads, vbtest::StallMount::Listings})
            for (const auto ending : {ProgramRun::Key, ProgramRun::Term})
                QTest::addRow("%s stalled, %s", stalled == vbtest::StallMount::Reads ? "read" : "listing",
                              ending == ProgramRun::Key ? "key" : "SIGTERM")
                    << int(stalled) << int(ending);
    }
    void endsWhileShareStalls()
    {
        QFETCH(int, stalled);
        QFETCH(int, ending);
        vbtest::StallMount share;
        QString why;
        if (!share.MountQuadrants(&why))
            QSKIP(qPrintable(why));
        const auto what = vbtest::StallMount::What(stalled);
        share.Stall(what, true);
        ProgramRun run(vbtest::SettingsFor({share.Path(), m_pictures.path()}, "Interval=1\nShuffle=True\n"));
        QVERIFY(run.Start({"/S"}) && run.WaitForScreen(FullScreenPictureShown));
        QTRY_VERIFY_WITH_TIMEOUT(share.HasWaited(what), 10000);
        QVERIFY(run.Running());

        QElapsedTimer sinceEnding;
        sinceEnding.start();
        run.End(ProgramRun::Ending(ending), 1000 * VB_TIME_SCALE);
        qInfo("the program ended %lld ms after the key or signal", sinceEnding.elapsed());
        QCOMPARE(run.Check(0,
                           "vellumbright: warning: folder \"" + QRegularExpression::escape(share.Path()) +
                               ".*did not answer within 2 s \\(setting Dir1\\).*",
                           what == vbtest::StallMount::Listings ? 1 : 0),
                 QString());
    }

    // The loading helper crashes on a picture, or hangs on it: the cross, a new helper, the good
    // picture again, and a key ends the run with status 0. A hung frame is given up after 4 s; with
    // 3 s between pictures its cross showed too briefly to be seen on a loaded machine.
    void helperFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("interval");
        QTest::newRow("crash") << "crash" << QByteArray("1");
        // Past the 4 s (12 s under ThreadSanitizer) after which a frame counts as hung.
        QTest::newRow("hang") << "hang" << QByteArray(VB_TIME_SCALE >= 6 ? "15" : "5");
    }
    void helperFaults()
    {
        QFETCH(QString, fault);
        QFETCH(QByteArray, interval);
        ProgramRun run;
        run.SetProgram(VB_TEST_HOOKS_PROGRAM);
        const QString folder = run.Path("pictures");
        QVERIFY(vbtest::SavePicture(folder + "/" + fault + "-the-helper.jpg",
                                    vbtest::Solid(QSize(64, 64), Qt::blue), "jpg"));
        QVERIFY(vbtest::WriteFile(
            run.SettingsFile(),
            vbtest::SettingsFor({folder, m_pictures.path()}, "Shuffle=True\nInterval=" + interval + "\n")));
        QVERIFY(run.Start({"/S"}));
        QStringList first;
        QTRY_COMPARE_WITH_TIMEOUT((first = LoadingHelpers(run.Pid())).size(), 1, 5000 * VB_TIME_SCALE);

        QTRY_VERIFY_WITH_TIMEOUT(CrossShown(ScreenNow()), 30000 * (VB_TIME_SCALE >= 6 ? 3 : 1));
        QTRY_VERIFY_WITH_TIMEOUT(FullScreenPictureShown(ScreenNow()), 15000);
        // The picture comes round again: between a helper's end and its successor's start, none runs.
        QStringList now;
        QTRY_VERIFY2((now = LoadingHelpers(run.Pid())).size() == 1 && now != first,
                     qPrintable(first.join(' ') + " then " + now.join(' ')));
        QVERIFY(run.Running());
        run.End(ProgramRun::Key);
        QCOMPARE(run.Check(0), QString());
    }

    // Folders that do not answer their listings, then one that does: the good folder's picture is
    // on screen within 3 s, however many are silent, with a warning naming each silent folder;
    // once they answer, their pictures join the show.
    void stalledListingAtStartUp_data()
    {
        QTest::addColumn<int>("stalled");
        QTest::newRow("one stalled folder") << 1;
        QTest::newRow("four stalled folders") << 4;
    }
    void stalledListingAtStartUp()
    {
        QFETCH(int, stalled);
        QTemporaryDir source, good;
        QVERIFY(
            vbtest::SavePicture(good.filePath("quadrants.bmp"), vbtest::Quadrants(QSize(200, 100)), "bmp"));
        QVERIFY(vbtest::SavePicture(source.filePath("magenta.bmp"),
                                    vbtest::Solid(QSize(200, 100), Qt::magenta), "bmp"));
        vbtest::StallMount share;
        QString why;
        if (!share.Mount(source.path(), &why))
            QSKIP(qPrintable(why));
        share.Stall(vbtest::StallMount::Listings, true);
        QStringList folders(stalled, share.Path());
        ProgramRun run(vbtest::SettingsFor(folders << good.path(), "Interval=1\n"));
        QVERIFY(run.Start({"/S"}));
        const qint64 shownAfter = QuadrantsShownAfter(run);
        qInfo("the good folder's picture showed %lld ms after the start", shownAfter);
        QVERIFY(shownAfter >= 0 && shownAfter <= 3000 * VB_TIME_SCALE);
        QVERIFY(share.HasWaited(vbtest::StallMount::Listings));

        share.Stall(vbtest::StallMount::Listings, false);
        QVERIFY(run.WaitForScreen(
            [](const QImage& s) { return NearAt(s, QPoint(640, 512), qRgb(255, 0, 255)); }, "root", 20000));
        run.End(ProgramRun::Key);
        QCOMPARE(run.Check(0,
                           "vellumbright: warning: folder \"" + QRegularExpression::escape(share.Path()) +
                               ".*did not answer within 2 s \\(setting Dir[1-4]\\).*",
                           stalled),
                 QString());
    }

    // A photo library filed by year and month, with a picture of each type in its own colour.
    // With IncludeSubfolders and AllPictureTypes every type shows; with both off only the chosen
    // folder's own BMP, JPEG and GIF pictures do, and its PNG does not. A monitor's profile on the
    // root window that swaps red and green swaps every colour (first: the next rows take it away).
    void photoLibrary_data()
    {
        QTest::addColumn<bool>("options");
        QTest::addColumn<bool>("swappingMonitor");
        QTest::newRow("monitor's profile swaps red and green") << true << true;
        QTest::newRow("subfolders and all types") << true << false;
        QTest::newRow("both off") << false << false;
    }
    void photoLibrary()
    {
        QFETCH(bool, options);
        QFETCH(bool, swappingMonitor);
        const QByteArray icc = vbtest::ReadFile("/usr/share/color/icc/colord/SwappedRedAndGreen.icc");
        QVERIFY(!icc.isEmpty());
        SetMonitorProfile(swappingMonitor ? icc : QByteArray());
        const auto shown = [&](QRgb c) {
            return swappingMonitor ? qRgb(qGreen(c), qRed(c), qBlue(c)) : c;
        };
        ProgramRun run;
        const QString library = run.Path("Pictures");
        // Where each picture goes, under the library, and its colour.
        const struct
        {
            const char* path;
            QRgb colour;
            bool listedWhenOff;
        } pictures[] = {
            {"2023/01/IMG_0001.HEIC", qRgb(255, 0, 0), false},
            {"2023/06/web.webp", qRgb(0, 255, 0), false},
            {"2023/12/scan.tiff", qRgb(0, 0, 255), false},
            {"2024/03/IMG_0002.avif", qRgb(255, 255, 0), false},
            {"2024/12/photo.jpg", qRgb(0, 255, 255), false},
            {"screenshot.png", qRgb(255, 0, 255), false},
            {"old.bmp", qRgb(255, 128, 0), true},
            {"cheer.gif", qRgb(128, 0, 255), true},
            {"camera.JPG", qRgb(255, 255, 255), true},
        };
        QList<QRgb> expected;
        for (const auto& picture : pictures) {
            const QString path = library + "/" + picture.path;
            const QImage solid = vbtest::Solid(QSize(200, 100), QColor(picture.colour));
            const QString suffix = QFileInfo(path).suffix().toLower();
            QVERIFY2(vbtest::SavePicture(path, solid, suffix.toLatin1()), picture.path);
            // A scanner's TIFF, as ImageMagick writes one, large enough that Qt converts it on
            // threads of its own in the helper.
            if (suffix == "tiff")
                QCOMPARE(
                    QProcess::execute("convert", {"-size", "640x480", "xc:blue", "-compress", "lzw", path}),
                    0);
            if (options || picture.listedWhenOff)
                expected.append(shown(picture.colour));
        }
        for (int month = 1; month <= 12; ++month)
            for (const char* year : {"2023", "2024"})
                QVERIFY(QDir().mkpath(QString("%1/%2/%3").arg(library, year).arg(month, 2, 10, QChar('0'))));
        const QByteArray on = options ? "True" : "False";
        QVERIFY(
            vbtest::WriteFile(run.SettingsFile(),
                              vbtest::SettingsFor({library}, "Interval=1\nShuffle=True\nShowFileNames=False\n"
                                                             "IncludeSubfolders=" +
                                                                 on + "\nAllPictureTypes=" + on + "\n")));

        // The colour in the middle of the screen, change by change.
        QList<QRgb> seen;
        int changes = 0;
        QRgb last = 0;
        QVERIFY(run.Start({"/S"}));
        const bool rounds = run.WaitForScreen(
            [&](const QImage& screen) {
                for (const auto& picture : pictures)
                    if (shown(picture.colour) != last &&
                        NearAt(screen, QPoint(640, 512), shown(picture.colour))) {
                        last = shown(picture.colour);
                        ++changes;
                        if (!seen.contains(last))
                            seen.append(last);
                    }
                // A round of Shuffle over every picture, had every one been listed.
                return seen.size() >= expected.size() && changes >= int(std::size(pictures));
            },
            "root", 60000);
        run.End(ProgramRun::Key);
        QVERIFY2(rounds, qPrintable(QString("%1 changes seen").arg(changes)));
        std::sort(seen.begin(), seen.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(seen, expected);
    }

    // A warm picture index for a folder on a share whose listings hang: the first picture is on
    // screen within 1 s, without waiting for the listing, and a key ends the run.
    void warmIndexOnStalledShare_data()
    {
        QTest::addColumn<bool>("behindLink");
        QTest::newRow("picture on the share") << false;
        // Only the index knows the folder the link leads to: no listing can say it.
        QTest::newRow("picture behind a link on the share") << true;
    }
    void warmIndexOnStalledShare()
    {
        QFETCH(bool, behindLink);
        vbtest::StallMount share;
        QString why;
        QTemporaryDir served, elsewhere;
        if (behindLink) {
            QVERIFY(vbtest::SavePicture(elsewhere.filePath("quadrants.bmp"),
                                        vbtest::Quadrants(QSize(200, 100)), "bmp"));
            QVERIFY(QFile::link(elsewhere.path(), served.filePath("link")));
        }
        if (!(behindLink ? share.Mount(served.path(), &why) : share.MountQuadrants(&why)))
            QSKIP(qPrintable(why));
        ProgramRun warm(vbtest::SettingsFor({share.Path()}, "Interval=3600\nIncludeSubfolders=True\n"));
        QVERIFY(warm.ShowThenEnd({"/S"}, FullScreenPictureShown, ProgramRun::Key));
        QVERIFY(!QDir(warm.Path("cache/vellumbright")).entryList({"*.index"}).isEmpty());

        share.Stall(vbtest::StallMount::Listings, true);
        ProgramRun run(warm);
        QVERIFY(run.Start({"/S"}));
        const qint64 shownAfter = QuadrantsShownAfter(run);
        qInfo("the indexed picture showed %lld ms after the start", shownAfter);
        QVERIFY(shownAfter >= 0 && shownAfter <= 1000 * VB_TIME_SCALE);
        QVERIFY(share.HasWaited(vbtest::StallMount::Listings));
        run.End(ProgramRun::Key);
        QCOMPARE(run.Check(0), QString());
    }

    // The X server dies under a full-screen run: the run ends within 5 s with the runtime's
    // one-line report and status 1, by itself rather than by a signal, and without spinning.
    void xServerDies()
    {
        // A server of its own, so that the test keeps its connection.
        QProcess xvfb;
        xvfb.start("Xvfb", {"-displayfd", "1", "-noreset", "-nolisten", "tcp", "-screen", "0", "640x480x24"});
        QVERIFY(xvfb.waitForStarted());
        QByteArray number;
        QTRY_VERIFY_WITH_TIMEOUT((number += xvfb.readAllStandardOutput()).endsWith('\n'), 10000);
        ProgramRun run(m_settings);
        run.SetDisplay(":" + QString::fromLatin1(number.trimmed()));
        QVERIFY(run.Start({"/S"}));
        QVERIFY(
            run.WaitForScreen([](const QImage& s) { return ShowsQuadrants(s, QRect(220, 190, 200, 100)); }));

        const double cpuBefore = run.CpuSeconds();
        xvfb.kill();
        run.Finish(5000);
        const double cpuAfter = run.CpuSeconds() - cpuBefore;
        QVERIFY2(cpuBefore >= 0 && cpuAfter < 1.0,
                 qPrintable(QString("%1 s of processor time").arg(cpuAfter)));
        QCOMPARE(run.Check(1, "vellumbright: Device I/O error: the connection to the X server broke.*"),
                 QString());
        xvfb.waitForFinished();
    }

    // "/P <id>" draws the miniature inside a foreign window: reduced by the host-to-screen ratio,
    // centred, at (0, 0) with the host's size, without the focus; input does
    // nothing; the run ends with status 0 once the host is gone.
    void preview_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("host window destroyed") << "this process";
        QTest::newRow("host process killed") << "other process";
    }
    void preview()
    {
        QFETCH(QString, host);
        auto local = std::make_unique<QWidget>();
        vbtest::HostWindowProcess other;
        vb::x11::WindowId hostId = 0;
        if (host == "this process") {
            local->setWindowTitle("host");
            local->setFixedSize(320, 256);
            local->show();
            QVERIFY(QTest::qWaitForWindowExposed(local.get()));
            hostId = vb::x11::WindowId(local->winId());
        } else {
            QVERIFY(other.Start("host", QSize(320, 256)));
            hostId = other.id();
        }
        QTRY_VERIFY(vb::x11::QueryWindow(hostId) && vb::x11::QueryWindow(hostId)->mapped);
        const vb::x11::WindowId focusBefore = vb::x11::InputFocus();

        ProgramRun run(m_settings);
        QVERIFY(run.Start({"/p", QString::number(hostId)}));
        const QString hostText = QString::number(hostId);
        // 200 x 100 at a quarter (the host is a quarter of the screen both ways), centred; the
        // half pixel of free height rounds down the screen.
        const QRect miniature(135, 116, 50, 25);
        QVERIFY(run.WaitForScreen([&](const QImage& s) { return ShowsQuadrants(s, miniature); }, hostText));

        const vb::x11::WindowId preview = PreviewWindow();
        const auto state = vb::x11::QueryWindow(preview);
        QVERIFY(state);
        QCOMPARE(state->parent, hostId);
        QCOMPARE(state->geometry, QRect(0, 0, 320, 256));
        QVERIFY(state->mapped);
        QCOMPARE(vb::x11::InputFocus(), focusBefore);
        QCOMPARE(vb::x11::FindTopLevelWindow("Preview"), 0u);

        // Input over the miniature changes nothing.
        const QPoint inside = vb::x11::QueryWindow(hostId)->geometry.topLeft() + QPoint(160, 128);
        QVERIFY(Xdotool({"mousemove", QString::number(inside.x()), QString::number(inside.y())}));
        QVERIFY(Xdotool({"mousemove", QString::number(inside.x() + 20), QString::number(inside.y())}));
        QVERIFY(Xdotool({"click", "1"}));
        QVERIFY(Xdotool({"key", "--window", QString::number(preview), "x"}));
        QVERIFY(!run.EndsWithin(700));
        QVERIFY(ShowsQuadrants(Screenshot(hostText), miniature));

        QElapsedTimer sinceHostWent;
        sinceHostWent.start();
        if (host == "this process")
            local.reset();
        else
            other.Kill();
        run.Finish(3000);
        qInfo("the preview ended %lld ms after its host", sinceHostWent.elapsed());
        QVERIFY(sinceHostWent.elapsed() <= 1000 * VB_TIME_SCALE);
        QCOMPARE(run.Check(0), QString());
    }

    // At any scale factor the preview fills its host exactly (the host's size is in device
    // pixels) and reduces by the host against the monitor, both in device pixels: a host as large
    // as the screen shows pictures as "/S" would. A resized host gets a resized child and a new
    // picture at the new ratio.
    void previewAtAnyScale_data()
    {
        QTest::addColumn<QString>("scale");
        QTest::addColumn<QSize>("from");
        QTest::addColumn<QSize>("to");
        QTest::newRow("scale 1, host resized") << "1" << QSize(320, 256) << QSize(640, 512);
        QTest::newRow("scale 2, host resized") << "2" << QSize(320, 256) << QSize(640, 512);
        QTest::newRow("scale 2, host as large as the screen") << "2" << ScreenSize << ScreenSize;
        QTest::newRow("scale 1.5, host of odd size") << "1.5" << QSize(320, 200) << QSize(321, 201);
        QTest::newRow("scale 2, host of odd size") << "2" << QSize(321, 201) << QSize(320, 200);
    }
    void previewAtAnyScale()
    {
        QFETCH(QString, scale);
        QFETCH(QSize, from);
        QFETCH(QSize, to);
        QWidget host;
        host.setWindowFlag(Qt::FramelessWindowHint);
        host.setGeometry(QRect(QPoint(0, 0), from));
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        const QString hostId = QString::number(host.winId());
        const auto miniature = [](QSize size) {
            const double ratio = std::min(double(size.width()) / ScreenSize.width(),
                                          double(size.height()) / ScreenSize.height());
            const QSize shown = (QSizeF(200, 100) * ratio).toSize();
            return QRect(QPoint((size.width() - shown.width()) / 2, (size.height() - shown.height()) / 2),
                         shown);
        };

        ProgramRun run(m_settings);
        run.SetEnv("QT_SCALE_FACTOR", scale);
        QVERIFY(run.Start({"/P", hostId}));
        QVERIFY(
            run.WaitForScreen([&](const QImage& s) { return ShowsQuadrants(s, miniature(from)); }, hostId));
        const vb::x11::WindowId preview = PreviewWindow();
        QCOMPARE(vb::x11::QueryWindow(preview)->geometry, QRect(QPoint(0, 0), from));

        host.resize(to);
        QTRY_COMPARE_WITH_TIMEOUT(vb::x11::QueryWindow(preview)->geometry, QRect(QPoint(0, 0), to), 1000);
        QTRY_VERIFY_WITH_TIMEOUT(ShowsQuadrants(Screenshot(hostId), miniature(to)), 5000);
    }

    // A host id that names no window: no crash, no window, the run ends at once with status 0.
    void previewOfMissingHost()
    {
        vbtest::MapWatch watch;
        QVERIFY(watch.Start());
        ProgramRun run(m_settings);
        run.Run({"/P", "536870656"}, 5000);
        QCOMPARE(run.Check(0), QString());
        QCOMPARE(watch.Maps(), 0);
    }

    // Three full-screen runs: the first keeps its empty caption, the second, started while
    // another runs, captions itself "Lanternshade/S", the third ends at once showing nothing.
    void singleInstanceGuard()
    {
        const QString caption = "Lanternshade/S";
        ProgramRun first(m_settings), second(first), third(first);
        QVERIFY(first.Start({"/S"}) && first.WaitForScreen(FullScreenPictureShown));
        QCOMPARE(vb::x11::FindTopLevelWindow(caption), 0u);

        QVERIFY(second.Start({"/s"}));
        QTRY_VERIFY_WITH_TIMEOUT(vb::x11::FindTopLevelWindow(caption) != 0, 10000);
        const vb::x11::WindowId marked = vb::x11::FindTopLevelWindow(caption);

        vbtest::MapWatch watch;
        QVERIFY(watch.Start());
        third.Run({"/S"}, 5000);
        QCOMPARE(third.Check(0), QString());
        QCOMPARE(watch.Maps(), 0);
        QVERIFY(first.Running() && second.Running());

        // The marked window is the second run's.
        QVERIFY(first.End(ProgramRun::Term));
        QCOMPARE(vb::x11::FindTopLevelWindow(caption), marked);
        second.End(ProgramRun::Term);
        QCOMPARE(second.Check(0), QString());
        QTRY_COMPARE(vb::x11::FindTopLevelWindow(caption), 0u);
    }
};

int main(int argc, char** argv)
{
    const int host = vbtest::RunHostWindowIfAsked(argc, argv);
    if (host >= 0)
        return host;
    QApplication app(argc, argv);
    tst_Slideshow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_slideshow.moc"
