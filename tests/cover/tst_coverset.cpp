#include "BackgroundLoader.h"
#include "Fakes.h"
#include "PictureFiles.h"
#include "ScreenChecks.h"
#include "cover/CoverSet.h"
#include "platform/display/CursorCounter.h"
#include "platform/runtime/RandomSource.h"
#include "platform/x11/X11Windows.h"
#include "state/ModuleState.h"

#include <QApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace vb;

// The covers on a real X server without a window manager, where Qt's full-screen state
// alone leaves a window small and keys go wherever the pointer is.
class tst_CoverSet : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY2(x11::Available(), "this test needs an X server and the xcb platform");
        QApplication::setQuitOnLastWindowClosed(false);
        SetPictureLoaderMaker([] { return std::make_unique<BackgroundLoader>(); });
    }
    void init() { ResetModuleState(); }

    // The run ends by unloading the window, or by SIGTERM or SIGINT, which unload it too: the
    // window goes and the pointer that start-up hid shows again.
    void fullScreenCoversPrimaryScreenAndTakesKeyboard_data()
    {
        QTest::addColumn<int>("ending"); // 0: Unload
        QTest::newRow("unload") << 0;
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void fullScreenCoversPrimaryScreenAndTakesKeyboard()
    {
        QFETCH(int, ending);
        const QString picture = m_dir.filePath("p.bmp");
        QVERIFY(vbtest::SavePicture(picture, vbtest::Solid(QSize(50, 40), Qt::green), "bmp"));
        PictureList = {picture};
        RunMode = ScreenSaver;
        StdRandomSource random;
        CoverSet cover(random);
        cover.Show();
        cover.Maximise();
        ShowCursor(false);
        frmCover& form = cover.Form();
        const auto id = x11::WindowId(form.winId());
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QTRY_VERIFY(x11::QueryWindow(id) && x11::QueryWindow(id)->mapped);
        QTRY_COMPARE(x11::QueryWindow(id)->geometry, screen);
        // The designed empty caption, not the application's name that Qt puts in its place.
        QProcess xprop;
        xprop.start("xprop", {"-notype", "-id", QString::number(id), "_NET_WM_NAME", "WM_NAME"});
        QVERIFY(xprop.waitForFinished());
        QCOMPARE(QString(xprop.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
                 (QStringList{"_NET_WM_NAME = ", "WM_NAME = "}));
        QCOMPARE(form.Canvas().LogicalSize(), screen.size());
        QTRY_VERIFY(form.HasKeyboardGrab());

        if (ending == 0)
            form.Unload();
        else
            std::raise(ending);
        QTRY_VERIFY(!x11::QueryWindow(id) || !x11::QueryWindow(id)->mapped);
        QCOMPARE(CursorDisplayCount(), 0);
    }

    // The screen split into two monitors: a cover over each, one timer; at the one due time both change;
    // input on one unloads both, and the pointer shows again once.
    void coversOfEveryMonitorChangeAndEndTogether()
    {
        QVERIFY(vbtest::SetMonitor("A", QRect(0, 0, 640, 1024), "screen"));
        QVERIFY(vbtest::SetMonitor("B", QRect(640, 0, 640, 1024), "none"));
        QTRY_COMPARE(QGuiApplication::screens().size(), 2);
        const QString red = m_dir.filePath("red.bmp");
        QVERIFY(vbtest::SavePicture(red, vbtest::Solid(QSize(50, 40), Qt::red), "bmp"));
        PictureList = {red};
        IntervalSeconds = 60;
        RunMode = ScreenSaver;
        vbtest::FakeClock clock;
        StdRandomSource random;
        CoverSet cover(random, clock);
        cover.Show();
        cover.Maximise();
        ShowCursor(false);
        const std::vector<frmCover*> forms = cover.Forms();
        QCOMPARE(forms.size(), 2u);
        const auto centre = [](const frmCover* form) {
            const QImage& image = form->Canvas().Image();
            return image.isNull() ? QRgb(0) : image.pixel(image.width() / 2, image.height() / 2);
        };
        for (frmCover* form : forms) {
            QTRY_COMPARE(form->geometry(), form->screen()->geometry());
            QTRY_COMPARE(centre(form), qRgb(255, 0, 0));
        }
        QVERIFY(forms[0]->screen() != forms[1]->screen());
        // One timer wakes the process for both.
        QCOMPARE(forms[0]->Timer().isActive() + forms[1]->Timer().isActive(), 1);

        // Each change puts a new image on the canvas (the next pick is made ready ahead).
        const qint64 before[] = {forms[0]->Canvas().Image().cacheKey(),
                                 forms[1]->Canvas().Image().cacheKey()};
        clock.now += std::chrono::seconds(60);
        QTRY_VERIFY(forms[0]->Canvas().Image().cacheKey() != before[0] &&
                    forms[1]->Canvas().Image().cacheKey() != before[1]);

        forms[1]->Form_KeyDown(0, 0);
        QVERIFY(forms[0]->IsUnloaded() && forms[1]->IsUnloaded());
        QCOMPARE(CursorDisplayCount(), 0);
        vbtest::DeleteMonitor("B");
        vbtest::DeleteMonitor("A");
    }
};

QTEST_MAIN(tst_CoverSet)
#include "tst_coverset.moc"
