#include "PictureFiles.h"
#include "ProgramRun.h"
#include "ScreenChecks.h"
#include "TestSupport.h"
#include "cover/frmCover.h"
#include "platform/x11/X11Windows.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

using namespace vbtest;

// The real program on an X screen of 3286 x 1080 split into two monitors, as RandR 1.5 reports
// them: A, 1920 x 1080 at (0, 0), the primary, and B, 1280 x 1024 at (1920, 0).
namespace {

const QRect MonitorA(0, 0, 1920, 1080);
const QRect MonitorB(1920, 0, 1280, 1024);

// The 200 x 100 picture centred on the monitor, at its own size.
bool PictureOn(const QImage& screen, const QRect& monitor)
{
    return ShowsQuadrants(screen, QRect(monitor.center() - QPoint(99, 49), QSize(200, 100)));
}

bool OnBoth(const QImage& screen)
{
    return PictureOn(screen, MonitorA) && PictureOn(screen, MonitorB);
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

// On `m`, the 400 x 300 checkerboard in the middle of `centre` and black up to the edges, pixel for
// pixel; with no picture, red only along the lines of the cross from corner to corner.
bool Shows(const QImage& s, const QRect& m, const QRect& centre, bool picture)
{
    for (int y = 0, w = m.width(), h = m.height(); y < h && !picture; ++y)
        for (int x = 0; x < w; ++x) // its distance from each diagonal, times the diagonal's length
            if (qRed(s.pixel(m.topLeft() + QPoint(x, y))) > 128 &&
                std::min(std::abs(x * h - y * w), std::abs((w - x) * h - y * w)) > 8 * w)
                return false;
    QImage expected = s.copy(m); // in the screenshot's colour space, so that they compare
    expected.fill(Qt::black);
    QPainter(&expected).drawImage(centre.center() - QPoint(199, 149) - m.topLeft(),
                                  Checkerboard(QSize(400, 300)));
    return picture ? s.copy(m) == expected : NearAt(s, m.center(), qRgb(255, 0, 0));
}

} // namespace

class tst_Monitors : public QObject
{
    Q_OBJECT

    QTemporaryDir m_pictures;
    QByteArray m_settings;

private slots:
    void initTestCase()
    {
        QVERIFY2(vb::x11::Available(), "this test needs an X server and the xcb platform");
        QVERIFY(SetMonitor("A", MonitorA, "screen"));
        QVERIFY(SetMonitor("B", MonitorB, "none"));
        QTRY_COMPARE(QGuiApplication::screens().size(), 2);
        QCOMPARE(QGuiApplication::primaryScreen()->geometry(), MonitorA);
        QVERIFY(SavePicture(m_pictures.filePath("quadrants.bmp"), Quadrants(QSize(200, 100)), "bmp"));
        m_settings = SettingsFor({m_pictures.path()}, "Interval=60\n");
    }

    // Both monitors covered, each picture centred on its own monitor; input on the second one
    // ends the run with status 0 and takes every cover away.
    void everyMonitorCovered_data()
    {
        QTest::addColumn<int>("ending");
        QTest::newRow("key") << int(ProgramRun::Key);
        QTest::newRow("pointer move on the second monitor") << int(ProgramRun::Move);
        QTest::newRow("one wheel notch on the second monitor") << int(ProgramRun::Wheel);
    }
    void everyMonitorCovered()
    {
        QFETCH(int, ending);
        QVERIFY(Xdotool({"mousemove", "2500", "300"}));
        ProgramRun run(m_settings);
        QVERIFY(run.Start({"/S"}) && run.WaitForScreen(OnBoth));
        QVERIFY(NearAt(run.screenshot, QPoint(3199, 1023), qRgb(0, 0, 0)));
        QVERIFY(NearAt(run.screenshot, QPoint(0, 1079), qRgb(0, 0, 0)));
        run.End(ProgramRun::Ending(ending));
        QCOMPARE(run.Check(0), QString());
        QTRY_VERIFY(!PictureOn(Screenshot(), MonitorA) && !PictureOn(Screenshot(), MonitorB));
    }

    // Two pictures on two monitors, a change at every tick: never the same picture on both. With
    // Shuffle every change swaps them (neither monitor shows its picture twice in a row), without
    // it about every other change does: `swaps` is about ten changes. The screen is read often,
    // one pixel per monitor, so that each change is seen; the two monitors repaint one after the
    // other, so the same picture on both is a fault only when it stays for half a tick.
    void differentPictureOnEachMonitor_data()
    {
        QTest::addColumn<bool>("shuffle");
        QTest::addColumn<int>("swaps");
        QTest::newRow("random") << false << 5;
        QTest::newRow("Shuffle") << true << 10;
    }
    void differentPictureOnEachMonitor()
    {
        QFETCH(bool, shuffle);
        QFETCH(int, swaps);
        const QRgb colours[] = {qRgb(0xe0, 0x90, 0x30), qRgb(0x30, 0x50, 0xe0)};
        QTemporaryDir folder;
        for (int i = 0; i < 2; ++i)
            QVERIFY(SavePicture(folder.filePath(QString("%1.bmp").arg(i)), Solid(QSize(200, 100), colours[i]),
                                "bmp"));
        // The picture in the middle of the monitor (0 or 1, -1 for neither): one pixel, read at once.
        const auto shownOn = [&](const QRect& m) {
            const QImage pixel = QGuiApplication::primaryScreen()
                                     ->grabWindow(0, m.center().x(), m.center().y(), 1, 1)
                                     .toImage();
            return NearAt(pixel, {}, colours[0]) ? 0 : NearAt(pixel, {}, colours[1]) ? 1 : -1;
        };
        int seen = 0, onA = -1;
        QElapsedTimer same;
        ProgramRun run(SettingsFor({folder.path()}, shuffle ? "Interval=0\nShuffle=True\n" : "Interval=0\n"));
        const auto sample = [&] {
            const int a = shownOn(MonitorA), b = shownOn(MonitorB);
            if (a >= 0 && a == b) {
                if (!same.isValid())
                    same.start();
                return same.elapsed() >= vb::frmCover::TimerIntervalMs / 2;
            }
            same.invalidate();
            seen += a >= 0 && b >= 0 && onA >= 0 && a != onA ? 1 : 0;
            onA = a >= 0 && b >= 0 ? a : onA;
            return seen >= swaps || !run.Running();
        };
        QVERIFY(run.Start({"/S"}));
        QTRY_VERIFY_WITH_TIMEOUT(sample(), 60000);
        QVERIFY2(!same.isValid(), "the same picture on both monitors for half a tick");
        run.End(ProgramRun::Key);
        QCOMPARE(run.Check(0), QString());
    }

    // The second of two full-screen runs marks the primary monitor's cover with the caption.
    void guardCaptionOnPrimaryMonitor()
    {
        ProgramRun first(m_settings), second(first);
        QVERIFY(first.Start({"/S"}) &&
                first.WaitForScreen([](const QImage& s) { return PictureOn(s, MonitorB); }));
        QVERIFY(second.Start({"/S"}));
        QTRY_VERIFY_WITH_TIMEOUT(vb::x11::FindTopLevelWindow("Lanternshade/S") != 0, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(
            vb::x11::QueryWindow(vb::x11::FindTopLevelWindow("Lanternshade/S"))->geometry,
            QGuiApplication::primaryScreen()->geometry(), 5000 * VB_TIME_SCALE);
        for (ProgramRun* run : {&first, &second}) {
            run->End(ProgramRun::Term);
            QCOMPARE(run->Check(0), QString());
        }
    }

    // Monitors go and come back during a run. The second one goes and returns: the first stays
    // covered, the returning one is covered again. The primary one goes: RandR then reports the
    // whole X screen as the primary monitor, which gets a cover of its own; when the first monitor
    // returns, both are covered as before. A key still ends the run.
    void monitorsComeAndGo()
    {
        ProgramRun run(m_settings);
        QVERIFY(run.Start({"/S"}) && run.WaitForScreen(OnBoth));

        QVERIFY(DeleteMonitor("B"));
        QTRY_VERIFY_WITH_TIMEOUT(!PictureOn(Screenshot(), MonitorB), 5000);
        QVERIFY(PictureOn(Screenshot(), MonitorA));
        QVERIFY(SetMonitor("B", MonitorB, "none"));
        QElapsedTimer sinceAdded;
        sinceAdded.start();
        QTRY_VERIFY_WITH_TIMEOUT(Covered(MonitorB), 5000);
        qInfo("the returning monitor was covered %lld ms after it came", sinceAdded.elapsed());
        QVERIFY(sinceAdded.elapsed() <= 1000);
        QTRY_VERIFY_WITH_TIMEOUT(PictureOn(Screenshot(), MonitorB), 5000);

        QVERIFY(DeleteMonitor("A"));
        QTRY_VERIFY_WITH_TIMEOUT(PictureOn(Screenshot(), QRect(0, 0, 3286, 1080)), 5000);
        QVERIFY(SetMonitor("A", MonitorA, "screen"));
        QVERIFY(run.WaitForScreen(OnBoth, "root", 5000));
        QVERIFY(!PictureOn(Screenshot(), QRect(0, 0, 3286, 1080)));
        QVERIFY(run.Running());

        run.End(ProgramRun::Key);
        QCOMPARE(run.Check(0), QString());
    }

    // At any scale each cover lies on exactly its monitor's device pixels, the picture centred pixel for
    // pixel; a monitor inside another shows that one's; no pictures: only the cross is red. Last: moves B.
    void exactAtAnyScale_data()
    {
        QTest::addColumn<QString>("scale");
        QTest::addColumn<QRect>("b");
        QTest::addColumn<bool>("pictures");
        for (const char* scale : {"1", "1.25", "1.5", "1.75", "2"}) {
            QTest::addRow("%s, 1920x1080 and 1280x1024", scale) << scale << MonitorB << true;
            QTest::addRow("%s, 1920x1080 and 1366x768", scale) << scale << QRect(1920, 0, 1366, 768) << true;
        }
        QTest::newRow("mirrored") << "1" << QRect(0, 0, 1280, 1024) << true;
        QTest::newRow("no pictures") << "1.5" << MonitorB << false;
    }
    void exactAtAnyScale()
    {
        QFETCH(QString, scale);
        QFETCH(QRect, b);
        QFETCH(bool, pictures);
        QVERIFY(DeleteMonitor("B") && SetMonitor("B", b, "none"));
        ProgramRun run(SettingsFor({}));
        QVERIFY(SavePicture(run.Path("pictures/board.bmp"), Checkerboard(QSize(400, 300)), "bmp"));
        QVERIFY(!pictures || WriteFile(run.SettingsFile(), SettingsFor({run.Path("pictures")})));
        run.SetEnv("QT_SCALE_FACTOR", scale);
        QVERIFY(run.Start({"/S"}) && run.WaitForScreen([&](const QImage& s) {
            return Shows(s, MonitorA, MonitorA, pictures) &&
                   Shows(s, b, MonitorA.contains(b) ? MonitorA : b, pictures);
        }));
        QVERIFY(Covered(MonitorA) && Covered(b) != MonitorA.contains(b));
        run.End(ProgramRun::Key);
        QCOMPARE(run.Check(0), QString());
    }
};

QTEST_MAIN(tst_Monitors)
#include "tst_monitors.moc"
