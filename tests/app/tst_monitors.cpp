#include "PictureFiles.h"
#include "ScreenChecks.h"
#include "TestSupport.h"
#include "platform/x11/X11Windows.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

using namespace vbtest;

// The real program on an X screen of 3200 x 1080 split into two monitors, as RandR 1.5 reports
// them: A, 1920 x 1080 at (0, 0), the primary, and B, 1280 x 1024 at (1920, 0).
namespace {

const QRect MonitorA(0, 0, 1920, 1080);
const QRect MonitorB(1920, 0, 1280, 1024);

bool Xrandr(const QStringList& arguments)
{
    return QProcess::execute("xrandr", arguments) == 0;
}

bool DefineMonitor(const QString& name, const QRect& r, const QString& output)
{
    // Sizes in millimetres at 96 dots per inch.
    const QString geometry = QString("%1/%2x%3/%4+%5+%6")
                                 .arg(r.width())
                                 .arg(r.width() * 254 / 960)
                                 .arg(r.height())
                                 .arg(r.height() * 254 / 960)
                                 .arg(r.x())
                                 .arg(r.y());
    return Xrandr({"--setmonitor", name, geometry, output});
}

// The 200 x 100 picture centred on the monitor, at its own size.
bool PictureOn(const QImage& screen, const QRect& monitor)
{
    return ShowsQuadrants(screen, QRect(monitor.center() - QPoint(99, 49), QSize(200, 100)));
}

// A window of the program is mapped over exactly the monitor.
bool Covered(const QRect& monitor)
{
    QProcess search;
    search.start("xdotool", {"search", "--onlyvisible", "--classname", "vellumbright"});
    search.waitForFinished();
    for (const QByteArray& id : search.readAllStandardOutput().split('\n')) {
        const auto state = vb::x11::QueryWindow(vb::x11::WindowId(id.toULongLong()));
        if (state && state->mapped && state->geometry == monitor)
            return true;
    }
    return false;
}

} // namespace

class tst_Monitors : public QObject
{
    Q_OBJECT

    QTemporaryDir m_config;
    QTemporaryDir m_pictures;

    void Start(QProcess& run, const QStringList& arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", m_config.path());
        run.setProcessEnvironment(env);
        run.start(VB_PROGRAM, arguments);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(vb::x11::Available(), "this test needs an X server and the xcb platform");
        QVERIFY(DefineMonitor("A", MonitorA, "screen"));
        QVERIFY(DefineMonitor("B", MonitorB, "none"));
        QTRY_COMPARE(QGuiApplication::screens().size(), 2);
        QCOMPARE(QGuiApplication::primaryScreen()->geometry(), MonitorA);
        QVERIFY(SavePicture(m_pictures.filePath("quadrants.bmp"), Quadrants(QSize(200, 100)), "bmp"));
        QVERIFY(WriteFile(m_config.filePath("Lanternshade.ini"),
                          "[Settings]\nNumDirs=1\nDir1=" + m_pictures.path().toUtf8() + "\nInterval=60\n"));
    }

    // Both monitors covered, each picture centred on its own monitor; input on the second one
    // ends the run with status 0 and takes every cover away.
    void everyMonitorCovered_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("key") << "key";
        QTest::newRow("pointer move on the second monitor") << "move";
        QTest::newRow("one wheel notch on the second monitor") << "wheel";
    }
    void everyMonitorCovered()
    {
        QFETCH(QString, ending);
        QVERIFY(Xdotool({"mousemove", "2500", "300"}));
        QProcess run;
        Start(run, {"/S"});
        QTRY_VERIFY_WITH_TIMEOUT(PictureOn(Screenshot(), MonitorA) && PictureOn(Screenshot(), MonitorB),
                                 10000);
        const QImage covered = Screenshot();
        QVERIFY(NearAt(covered, QPoint(3199, 1023), qRgb(0, 0, 0)));
        QVERIFY(NearAt(covered, QPoint(0, 1079), qRgb(0, 0, 0)));

        if (ending == "key") {
            QVERIFY(Xdotool({"key", "x"}));
        } else if (ending == "move") {
            QVERIFY(Xdotool({"mousemove", "2600", "300"}));
            // The first report only tells where the pointer is.
            QVERIFY(!run.waitForFinished(700));
            QVERIFY(Xdotool({"mousemove", "2601", "300"}));
        } else {
            QVERIFY(Xdotool({"click", "5"}));
        }
        QVERIFY(run.waitForFinished(5000));
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(ErrorLines(run.readAllStandardError()), QStringList());
        QTRY_VERIFY(!PictureOn(Screenshot(), MonitorA) && !PictureOn(Screenshot(), MonitorB));
    }

    // The second of two full-screen runs marks the primary monitor's cover with the caption.
    void guardCaptionOnPrimaryMonitor()
    {
        QProcess first, second;
        Start(first, {"/S"});
        QTRY_VERIFY_WITH_TIMEOUT(PictureOn(Screenshot(), MonitorB), 10000);
        Start(second, {"/S"});
        QTRY_VERIFY_WITH_TIMEOUT(vb::x11::FindTopLevelWindow("Lanternshade/S") != 0, 10000);
        QTRY_COMPARE(vb::x11::QueryWindow(vb::x11::FindTopLevelWindow("Lanternshade/S"))->geometry,
                     QGuiApplication::primaryScreen()->geometry());
        for (QProcess* run : {&first, &second}) {
            run->terminate();
            QVERIFY(run->waitForFinished(5000));
            QCOMPARE(run->exitCode(), 0);
        }
    }

    // Monitors go and come back during a run. The second one goes and returns: the first stays
    // covered, the returning one is covered again. The primary one goes: RandR then reports the
    // whole X screen as the primary monitor, which gets a cover of its own; when the first monitor
    // returns, both are covered as before. A key still ends the run.
    void monitorsComeAndGo()
    {
        QProcess run;
        Start(run, {"/S"});
        QTRY_VERIFY_WITH_TIMEOUT(PictureOn(Screenshot(), MonitorA) && PictureOn(Screenshot(), MonitorB),
                                 10000);

        QVERIFY(Xrandr({"--delmonitor", "B"}));
        QTRY_VERIFY_WITH_TIMEOUT(!PictureOn(Screenshot(), MonitorB), 5000);
        QVERIFY(PictureOn(Screenshot(), MonitorA));
        QVERIFY(DefineMonitor("B", MonitorB, "none"));
        QElapsedTimer sinceAdded;
        sinceAdded.start();
        QTRY_VERIFY_WITH_TIMEOUT(Covered(MonitorB), 5000);
        qInfo("the returning monitor was covered %lld ms after it came", sinceAdded.elapsed());
        QVERIFY(sinceAdded.elapsed() <= 1000);
        QTRY_VERIFY_WITH_TIMEOUT(PictureOn(Screenshot(), MonitorB), 5000);

        QVERIFY(Xrandr({"--delmonitor", "A"}));
        QTRY_VERIFY_WITH_TIMEOUT(PictureOn(Screenshot(), QRect(0, 0, 3200, 1080)), 5000);
        QVERIFY(DefineMonitor("A", MonitorA, "screen"));
        QTRY_VERIFY_WITH_TIMEOUT(PictureOn(Screenshot(), MonitorA) && PictureOn(Screenshot(), MonitorB),
                                 5000);
        QVERIFY(!PictureOn(Screenshot(), QRect(0, 0, 3200, 1080)));
        QVERIFY(run.state() == QProcess::Running);

        QVERIFY(Xdotool({"key", "x"}));
        QVERIFY(run.waitForFinished(5000));
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(ErrorLines(run.readAllStandardError()), QStringList());
    }
};

QTEST_MAIN(tst_Monitors)
#include "tst_monitors.moc"
