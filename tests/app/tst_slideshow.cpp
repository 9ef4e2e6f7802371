#include "HostWindow.h"
#include "PictureFiles.h"
#include "ScreenChecks.h"
#include "StallMount.h"
#include "TestSupport.h"
#include "platform/x11/X11Windows.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

// The real program under the test's X server (1280 x 1024, no window manager), started as a
// screen saver would start it, watched with screenshots and driven with xdotool.
using vbtest::Screenshot;
using vbtest::ShowsQuadrants;
using vbtest::Xdotool;

namespace {

const QSize ScreenSize(1280, 1024);

// A full-screen picture of 200 x 100 in the middle of the screen, black around it.
bool FullScreenPictureShown()
{
    const QImage screen = Screenshot();
    return ShowsQuadrants(screen, QRect(540, 462, 200, 100)) &&
           vbtest::NearAt(screen, QPoint(0, 0), qRgb(0, 0, 0)) &&
           vbtest::NearAt(screen, QPoint(1279, 1023), qRgb(0, 0, 0));
}

// The program started outside QProcess, for what QProcess cannot tell: whether it ended by a
// signal, and the processor time it used.
struct Spawned
{
    pid_t pid = -1;
    int status = 0;
    rusage usage{};

    bool Start(const QStringList& arguments, const QProcessEnvironment& environment, const QString& errorFile)
    {
        std::vector<QByteArray> args{QByteArray(VB_PROGRAM)}, env;
        for (const QString& a : arguments)
            args.push_back(a.toLocal8Bit());
        for (const QString& e : environment.toStringList())
            env.push_back(e.toLocal8Bit());
        std::vector<char*> argv, envp;
        for (QByteArray& a : args)
            argv.push_back(a.data());
        for (QByteArray& e : env)
            envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, errorFile.toLocal8Bit().constData(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const bool started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0;
        posix_spawn_file_actions_destroy(&actions);
        return started;
    }
    // Processor time so far, in seconds, while it runs.
    double CpuSeconds() const
    {
        QFile stat(QString("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        return double(fields.value(11).toLongLong() + fields.value(12).toLongLong()) /
               double(sysconf(_SC_CLK_TCK));
    }
    double UsageSeconds() const
    {
        return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    bool Wait(int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (pid > 0) {
            if (wait4(pid, &status, WNOHANG, &usage) == pid) {
                pid = -1;
                return true;
            }
            if (timer.elapsed() > timeoutMs)
                return false;
            QTest::qWait(20);
        }
        return true;
    }
    ~Spawned()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
    }
};

// Counts the windows mapped on the screen, as xev reports them on the root window.
struct MapWatch
{
    QProcess xev;
    QByteArray seen;
    int probesSeen = 0;

    bool Start()
    {
        xev.start("xev", {"-root", "-event", "substructure"});
        if (!xev.waitForStarted())
            return false;
        // xev listens some time after it starts; until then probes go unreported.
        for (int i = 0; i < 20; ++i)
            if (Probe(300))
                return true;
        return false;
    }
    // Maps a window of our own and waits for xev to report it; every window mapped before it
    // has been reported by then.
    bool Probe(int waitMs)
    {
        QWindow probe;
        probe.resize(1, 1);
        probe.show();
        const QByteArray mark =
            "window 0x" + QByteArray::number(qulonglong(probe.winId()), 16) + ", override";
        QElapsedTimer timer;
        timer.start();
        while (!seen.contains(mark) && timer.elapsed() < waitMs) {
            xev.waitForReadyRead(50);
            seen += xev.readAllStandardOutput();
        }
        probesSeen += seen.contains(mark) ? 1 : 0;
        return seen.contains(mark);
    }
    // The windows mapped since Start, probes left out; -1 when xev stopped answering.
    int Maps() { return Probe(10000) ? int(seen.count("MapNotify event")) - probesSeen : -1; }
};

} // namespace

class tst_Slideshow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_config;
    QTemporaryDir m_pictures;
    std::vector<std::unique_ptr<QProcess>> m_runs;

    QProcess& Start(const QStringList& arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", m_config.path());
        auto& run = m_runs.emplace_back(std::make_unique<QProcess>());
        run->setProcessEnvironment(env);
        run->start(VB_PROGRAM, arguments);
        return *run;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(vb::x11::Available(), "this test needs an X server and the xcb platform");
        QCOMPARE(QGuiApplication::primaryScreen()->size(), ScreenSize);
        QVERIFY(vbtest::SavePicture(m_pictures.filePath("quadrants.bmp"), vbtest::Quadrants(QSize(200, 100)),
                                    "bmp"));
        QVERIFY(vbtest::WriteFile(m_config.filePath("Lanternshade.ini"),
                                  "[Settings]\nNumDirs=1\nDir1=" + m_pictures.path().toUtf8() +
                                      "\nInterval=60\nShowFileNames=False\n"));
    }
    void cleanup()
    {
        for (auto& run : m_runs) {
            if (run->state() != QProcess::NotRunning) {
                run->kill();
                run->waitForFinished();
            }
        }
        m_runs.clear();
    }

    // "/S" covers the screen in black with the picture centred at its own size, and ends with
    // status 0 on a key, a click, a one-pixel move after the first report, SIGTERM or SIGINT.
    void fullScreen_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("key") << "key";
        QTest::newRow("click") << "click";
        QTest::newRow("one-pixel move after the first report") << "move";
        QTest::newRow("SIGTERM") << "SIGTERM";
        QTest::newRow("SIGINT") << "SIGINT";
    }
    void fullScreen()
    {
        QFETCH(QString, ending);
        QVERIFY(Xdotool({"mousemove", "10", "10"}));
        QProcess& run = Start({"/S"});
        QVERIFY(run.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(FullScreenPictureShown(), 10000);

        if (ending == "key") {
            QVERIFY(Xdotool({"key", "x"}));
        } else if (ending == "click") {
            QVERIFY(Xdotool({"click", "1"}));
        } else if (ending == "move") {
            QVERIFY(Xdotool({"mousemove", "600", "500"}));
            // The first report only tells where the pointer is.
            QVERIFY(!run.waitForFinished(700));
            QVERIFY(Xdotool({"mousemove", "601", "500"}));
        } else if (ending == "SIGTERM") {
            run.terminate();
        } else {
            ::kill(pid_t(run.processId()), SIGINT);
        }
        QVERIFY(run.waitForFinished(5000));
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(vbtest::ErrorLines(run.readAllStandardError()), QStringList());
        QTRY_VERIFY(!vbtest::NearAt(Screenshot(), QPoint(545, 467), qRgb(255, 0, 0)));
    }

    // A picture that cannot be shown gives the cross and says nothing on standard error.
    void failingPictureIsSilent()
    {
        QTemporaryDir config, pictures;
        QByteArray jpeg;
        {
            QBuffer buffer(&jpeg);
            buffer.open(QIODevice::WriteOnly);
            vbtest::Solid(QSize(64, 64), Qt::blue).save(&buffer, "jpg");
        }
        QVERIFY(vbtest::WriteFile(pictures.filePath("no-data.jpg"), jpeg.left(jpeg.indexOf("\xff\xda"))));
        QVERIFY(vbtest::WriteFile(config.filePath("Lanternshade.ini"),
                                  "[Settings]\nNumDirs=1\nDir1=" + pictures.path().toUtf8() + "\n"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config.path());
        env.remove("QT_LOGGING_RULES");
        QProcess run;
        run.setProcessEnvironment(env);
        run.start(VB_PROGRAM, {"/S"});
        QTRY_VERIFY_WITH_TIMEOUT(vbtest::NearAt(Screenshot(), QPoint(640, 512), qRgb(255, 0, 0)) &&
                                     vbtest::NearAt(Screenshot(), QPoint(640, 100), qRgb(0, 0, 0)),
                                 10000);
        QVERIFY(Xdotool({"key", "x"}));
        QVERIFY(run.waitForFinished(5000));
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(vbtest::ErrorLines(run.readAllStandardError()), QStringList());
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
        QTemporaryDir config, pictures;
        const QString picture = pictures.filePath("quadrants.bmp");
        QVERIFY(vbtest::SavePicture(picture, vbtest::Quadrants(QSize(200, 100)), "bmp"));
        QVERIFY(
            vbtest::WriteFile(config.filePath("Lanternshade.ini"),
                              "[Settings]\nNumDirs=1\nDir1=" + pictures.path().toUtf8() + "\nInterval=1\n"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config.path());
        QProcess run;
        run.setProcessEnvironment(env);
        QVERIFY(Xdotool({"mousemove", "10", "10"}));
        run.start(VB_PROGRAM, {"/S"});
        QTRY_VERIFY_WITH_TIMEOUT(FullScreenPictureShown(), 10000);

        QVERIFY(QFile::remove(picture));
        if (replacement == "pipe")
            QCOMPARE(mkfifo(QFile::encodeName(picture).constData(), 0600), 0);
        else if (replacement == "folder")
            QVERIFY(QDir().mkdir(picture));
        QTRY_VERIFY_WITH_TIMEOUT(vbtest::NearAt(Screenshot(), QPoint(640, 512), qRgb(255, 0, 0)) &&
                                     vbtest::NearAt(Screenshot(), QPoint(640, 100), qRgb(0, 0, 0)),
                                 10000);
        QVERIFY(Xdotool({"key", "x"}));
        QVERIFY(run.waitForFinished(5000));
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(vbtest::ErrorLines(run.readAllStandardError()), QStringList());
    }

    // The only folder is on a share whose reads hang: the cover comes up, and a key still ends
    // the run at once, with status 0, while the read hangs on in the kernel.
    void stalledReadEndsOnKey()
    {
        QTemporaryDir config, source;
        QVERIFY(
            vbtest::SavePicture(source.filePath("quadrants.bmp"), vbtest::Quadrants(QSize(200, 100)), "bmp"));
        vbtest::StallMount share;
        QString why;
        if (!share.Mount(source.path(), &why))
            QSKIP(qPrintable(why));
        share.Stall(vbtest::StallMount::Reads, true);
        QVERIFY(vbtest::WriteFile(config.filePath("Lanternshade.ini"),
                                  "[Settings]\nNumDirs=1\nDir1=" + share.Path().toUtf8() + "\nInterval=1\n"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config.path());
        QVERIFY(Xdotool({"mousemove", "10", "10"}));
        QProcess run;
        run.setProcessEnvironment(env);
        run.start(VB_PROGRAM, {"/S"});
        QTRY_VERIFY_WITH_TIMEOUT(share.HasWaited(vbtest::StallMount::Reads), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(Xdotool({"search", "--onlyvisible", "--classname", "vellumbright"}), 10000);
        // Past the next due time, so that the hanging read has been given up for display, and
        // long enough for the keyboard grab, which is retried every 100 ms until it holds.
        QTest::qWait(1500);
        QVERIFY(run.state() == QProcess::Running);

        QElapsedTimer sinceKey;
        sinceKey.start();
        QVERIFY(Xdotool({"key", "x"}));
        QVERIFY(run.waitForFinished(5000));
        qInfo("the run ended %lld ms after the key", sinceKey.elapsed());
        QVERIFY(sinceKey.elapsed() <= 200 * VB_TIME_SCALE);
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(vbtest::ErrorLines(run.readAllStandardError()), QStringList());
    }

    // One folder does not answer its listing, another does: the good folder's picture is on
    // screen within 3 s, with one warning naming the silent folder; once that folder answers,
    // its pictures join the show.
    void stalledListingAtStartUp()
    {
        QTemporaryDir config, source, good;
        QVERIFY(
            vbtest::SavePicture(good.filePath("quadrants.bmp"), vbtest::Quadrants(QSize(200, 100)), "bmp"));
        QVERIFY(vbtest::SavePicture(source.filePath("magenta.bmp"),
                                    vbtest::Solid(QSize(200, 100), Qt::magenta), "bmp"));
        vbtest::StallMount share;
        QString why;
        if (!share.Mount(source.path(), &why))
            QSKIP(qPrintable(why));
        share.Stall(vbtest::StallMount::Listings, true);
        QVERIFY(vbtest::WriteFile(config.filePath("Lanternshade.ini"),
                                  "[Settings]\nNumDirs=2\nDir1=" + share.Path().toUtf8() +
                                      "\nDir2=" + good.path().toUtf8() + "\nInterval=1\n"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config.path());
        QVERIFY(Xdotool({"mousemove", "10", "10"}));
        QProcess run;
        run.setProcessEnvironment(env);
        QElapsedTimer sinceStart;
        sinceStart.start();
        run.start(VB_PROGRAM, {"/S"});
        // The screen read here, in a few milliseconds, rather than by `import`, which takes half a
        // second.
        QTRY_VERIFY_WITH_TIMEOUT(
            ShowsQuadrants(QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(
                               QImage::Format_RGB32),
                           QRect(540, 462, 200, 100)),
            10000);
        qInfo("the good folder's picture showed %lld ms after the start", sinceStart.elapsed());
        QVERIFY(sinceStart.elapsed() <= 3000 * VB_TIME_SCALE);
        QVERIFY(share.HasWaited(vbtest::StallMount::Listings));

        share.Stall(vbtest::StallMount::Listings, false);
        QTRY_VERIFY_WITH_TIMEOUT(vbtest::NearAt(Screenshot(), QPoint(640, 512), qRgb(255, 0, 255)), 20000);
        QVERIFY(Xdotool({"key", "x"}));
        QVERIFY(run.waitForFinished(5000));
        QCOMPARE(run.exitCode(), 0);
        const QStringList lines = vbtest::ErrorLines(run.readAllStandardError());
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].startsWith("vellumbright: warning: folder \"" + share.Path()) &&
                     lines[0].contains("did not answer within 2 s (setting Dir1)"),
                 qPrintable(lines[0]));
    }

    // FitLargePictures: a 6000 x 4000 photo shows whole on the 1280 x 1024 screen, 1280 x 853.3
    // from row 85.3, each quadrant at its corner and black above and below.
    void fittedLargePhoto()
    {
        QTemporaryDir config, pictures;
        QVERIFY(vbtest::SavePicture(pictures.filePath("photo.jpg"), vbtest::Quadrants(QSize(6000, 4000)),
                                    "jpg", 90));
        QVERIFY(
            vbtest::WriteFile(config.filePath("Lanternshade.ini"),
                              "[Settings]\nNumDirs=1\nDir1=" + pictures.path().toUtf8() +
                                  "\nShowFileNames=True\nFitLargePictures=True\nOutlineFileNames=True\n"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config.path());
        QProcess run;
        run.setProcessEnvironment(env);
        QVERIFY(Xdotool({"mousemove", "10", "10"}));
        run.start(VB_PROGRAM, {"/S"});
        const auto whole = [] {
            const QImage screen = Screenshot();
            return vbtest::NearAt(screen, QPoint(6, 92), qRgb(255, 0, 0)) &&
                   vbtest::NearAt(screen, QPoint(1273, 92), qRgb(0, 255, 0)) &&
                   vbtest::NearAt(screen, QPoint(6, 931), qRgb(0, 0, 255)) &&
                   vbtest::NearAt(screen, QPoint(1273, 931), qRgb(255, 255, 0)) &&
                   vbtest::NearAt(screen, QPoint(640, 80), qRgb(0, 0, 0)) &&
                   vbtest::NearAt(screen, QPoint(640, 943), qRgb(0, 0, 0));
        };
        QTRY_VERIFY_WITH_TIMEOUT(whole(), 10000);
        QVERIFY(Xdotool({"key", "x"}));
        QVERIFY(run.waitForFinished(5000));
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(vbtest::ErrorLines(run.readAllStandardError()), QStringList());
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
        const QString display = ":" + QString::fromLatin1(number.trimmed());
        QTemporaryDir scratch;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", m_config.path());
        env.insert("DISPLAY", display);
        Spawned run;
        QVERIFY(run.Start({"/S"}, env, scratch.filePath("stderr")));
        QTRY_VERIFY_WITH_TIMEOUT(ShowsQuadrants(Screenshot("root", display), QRect(220, 190, 200, 100)),
                                 10000);

        const double cpuBefore = run.CpuSeconds();
        xvfb.kill();
        QVERIFY(run.Wait(5000));
        QVERIFY2(WIFEXITED(run.status), "ended by a signal");
        QCOMPARE(WEXITSTATUS(run.status), 1);
        const double cpuAfter = run.UsageSeconds() - cpuBefore;
        QVERIFY2(cpuBefore >= 0 && cpuAfter < 1.0,
                 qPrintable(QString("%1 s of processor time").arg(cpuAfter)));
        const QStringList lines = vbtest::ErrorLines(vbtest::ReadFile(scratch.filePath("stderr")));
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].startsWith("vellumbright: Device I/O error: the connection to the X server broke"),
                 qPrintable(lines[0]));
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
        QVERIFY(Xdotool({"mousemove", "10", "10"}));
        const vb::x11::WindowId focusBefore = vb::x11::InputFocus();

        QProcess& run = Start({"/p", QString::number(hostId)});
        QVERIFY(run.waitForStarted());
        const QString hostText = QString::number(hostId);
        // 200 x 100 at a quarter (the host is a quarter of the screen both ways), centred; the
        // half pixel of free height rounds down the screen.
        const QRect miniature(135, 116, 50, 25);
        QTRY_VERIFY_WITH_TIMEOUT(ShowsQuadrants(Screenshot(hostText), miniature), 10000);

        QProcess search;
        search.start("xdotool", {"search", "--name", "^Preview$"});
        QVERIFY(search.waitForFinished());
        const QList<QByteArray> found = search.readAllStandardOutput().trimmed().split('\n');
        QCOMPARE(found.size(), 1);
        const auto preview = vb::x11::WindowId(found[0].toULongLong());
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
        QVERIFY(!run.waitForFinished(700));
        QVERIFY(ShowsQuadrants(Screenshot(hostText), miniature));

        QElapsedTimer sinceHostWent;
        sinceHostWent.start();
        if (host == "this process")
            local.reset();
        else
            other.Kill();
        QVERIFY(run.waitForFinished(3000));
        qInfo("the preview ended %lld ms after its host", sinceHostWent.elapsed());
        QVERIFY(sinceHostWent.elapsed() <= 1000);
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 0);
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
        const auto hostId = vb::x11::WindowId(host.winId());
        const auto miniature = [](QSize size) {
            const double ratio = std::min(double(size.width()) / ScreenSize.width(),
                                          double(size.height()) / ScreenSize.height());
            const QSize shown = (QSizeF(200, 100) * ratio).toSize();
            return QRect(QPoint((size.width() - shown.width()) / 2, (size.height() - shown.height()) / 2),
                         shown);
        };

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", m_config.path());
        env.insert("QT_SCALE_FACTOR", scale);
        QProcess run;
        run.setProcessEnvironment(env);
        run.start(VB_PROGRAM, {"/P", QString::number(hostId)});
        QTRY_VERIFY_WITH_TIMEOUT(ShowsQuadrants(Screenshot(QString::number(hostId)), miniature(from)), 10000);
        QProcess search;
        search.start("xdotool", {"search", "--name", "^Preview$"});
        QVERIFY(search.waitForFinished());
        const auto preview = vb::x11::WindowId(search.readAllStandardOutput().trimmed().toULongLong());
        QCOMPARE(vb::x11::QueryWindow(preview)->geometry, QRect(QPoint(0, 0), from));

        host.resize(to);
        QTRY_COMPARE_WITH_TIMEOUT(vb::x11::QueryWindow(preview)->geometry, QRect(QPoint(0, 0), to), 1000);
        QTRY_VERIFY_WITH_TIMEOUT(ShowsQuadrants(Screenshot(QString::number(hostId)), miniature(to)), 5000);
        run.kill();
        run.waitForFinished();
    }

    // A host id that names no window: no crash, no window, the run ends at once with status 0.
    void previewOfMissingHost()
    {
        MapWatch watch;
        QVERIFY(watch.Start());
        QProcess& run = Start({"/P", "536870656"});
        QVERIFY(run.waitForFinished(5000));
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(watch.Maps(), 0);
    }

    // Three full-screen runs: the first keeps its empty caption, the second, started while
    // another runs, captions itself "Lanternshade/S", the third ends at once showing nothing.
    void singleInstanceGuard()
    {
        const QString caption = "Lanternshade/S";
        QProcess& first = Start({"/S"});
        QTRY_VERIFY_WITH_TIMEOUT(FullScreenPictureShown(), 10000);
        QCOMPARE(vb::x11::FindTopLevelWindow(caption), 0u);

        QProcess& second = Start({"/s"});
        QTRY_VERIFY_WITH_TIMEOUT(vb::x11::FindTopLevelWindow(caption) != 0, 10000);
        const vb::x11::WindowId marked = vb::x11::FindTopLevelWindow(caption);

        MapWatch watch;
        QVERIFY(watch.Start());
        QProcess& third = Start({"/S"});
        QVERIFY(third.waitForFinished(5000));
        QCOMPARE(third.exitStatus(), QProcess::NormalExit);
        QCOMPARE(third.exitCode(), 0);
        QCOMPARE(watch.Maps(), 0);
        QVERIFY(first.state() == QProcess::Running && second.state() == QProcess::Running);

        // The marked window is the second run's.
        first.terminate();
        QVERIFY(first.waitForFinished(5000));
        QCOMPARE(vb::x11::FindTopLevelWindow(caption), marked);
        second.terminate();
        QVERIFY(second.waitForFinished(5000));
        QCOMPARE(second.exitCode(), 0);
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
