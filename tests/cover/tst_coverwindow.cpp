#include "PictureFiles.h"
#include "app/ModuleState.h"
#include "cover/CoverWindow.h"
#include "platform/CursorCounter.h"
#include "platform/RandomSource.h"
#include "platform/X11Windows.h"

#include <QApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace vb;

// The cover window on a real X server without a window manager, where Qt's full-screen state
// alone leaves a window small and keys go wherever the pointer is.
class tst_CoverWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY2(x11::Available(), "this test needs an X server and the xcb platform");
        QApplication::setQuitOnLastWindowClosed(false);
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
        CoverWindow cover(random);
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
};

QTEST_MAIN(tst_CoverWindow)
#include "tst_coverwindow.moc"
