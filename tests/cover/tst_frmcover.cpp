#include "BackgroundLoader.h"
#include "Fakes.h"
#include "PictureFiles.h"
#include "cover/frmCover.h"
#include "platform/display/CursorCounter.h"
#include "state/ModuleState.h"

#include <QApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

using namespace vb;
using namespace std::chrono_literals;

namespace {

QSizeF Screen()
{
    return QSizeF(1000 * 15.0, 800 * 15.0);
}

int CountGreen(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixel(x, y) == qRgb(0, 255, 0) ? 1 : 0;
    return count;
}

} // namespace

class tst_frmCover : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_green;
    vbtest::FakeClock m_clock;
    vbtest::FakeRandom m_random;

private slots:
    void initTestCase()
    {
        // Closing the last window would otherwise end the test's own event loop.
        QApplication::setQuitOnLastWindowClosed(false);
        SetPictureLoaderMaker([] { return std::make_unique<BackgroundLoader>(); });
        m_green = m_dir.filePath("green.bmp");
        QVERIFY(vbtest::SavePicture(m_green, vbtest::Solid(QSize(40, 20), Qt::green), "bmp"));
    }
    void init()
    {
        ResetModuleState();
        PictureList = {m_green};
        IntervalSeconds = 60;
        QCOMPARE(CursorDisplayCount(), 0);
    }
    void cleanup()
    {
        while (CursorDisplayCount() < 0)
            ShowCursor(true);
    }

    // Any key, button, click, double click, wheel turn or movement ends a full-screen run and shows the
    // pointer again; in the other modes input does nothing and the pointer is left alone.
    void input_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("unloads");
        const QStringList inputs{"key",
                                 "shift alone",
                                 "left click",
                                 "right button down",
                                 "double click",
                                 "wheel",
                                 "move after first report",
                                 "first report only"};
        for (const int mode : {int(ScreenSaver), int(Preview), int(Configure)}) {
            const char* m = mode == ScreenSaver ? "full screen" : mode == Preview ? "preview" : "configure";
            for (const QString& input : inputs)
                QTest::addRow("%s: %s", m, qPrintable(input))
                    << mode << input << (mode == ScreenSaver && input != "first report only");
        }
    }
    void input()
    {
        QFETCH(int, mode);
        QFETCH(QString, input);
        QFETCH(bool, unloads);
        RunMode = mode;
        frmCover form(m_clock, m_random, Screen);
        QSignalSpy unloaded(&form, &frmCover::unloaded);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        if (mode == ScreenSaver)
            ShowCursor(false);

        if (input == "key")
            QTest::keyClick(&form, Qt::Key_A);
        else if (input == "shift alone")
            QTest::keyPress(&form, Qt::Key_Shift, Qt::ShiftModifier);
        else if (input == "left click")
            QTest::mouseClick(&form, Qt::LeftButton, {}, QPoint(20, 20));
        else if (input == "right button down") {
            QTest::mousePress(&form, Qt::RightButton, {}, QPoint(20, 20));
            // The press alone does it; the release only tidies up the test's button state.
            QCOMPARE(unloaded.count(), unloads ? 1 : 0);
            QTest::mouseRelease(&form, Qt::RightButton, {}, QPoint(20, 20));
        } else if (input == "double click") {
            QTest::mouseDClick(&form, Qt::LeftButton, {}, QPoint(20, 20));
            // QTest leaves the button down after a double click.
            QTest::mouseRelease(&form, Qt::LeftButton, {}, QPoint(20, 20));
        } else if (input == "wheel") {
            QWheelEvent wheel(QPointF(20, 20), form.mapToGlobal(QPointF(20, 20)), QPoint(), QPoint(0, 120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(&form, &wheel);
        } else if (input.endsWith("first report") || input == "first report only") {
            QTest::mouseMove(&form, QPoint(30, 40));
            QTRY_COMPARE(form.Movement().LastMouseX, mode == ScreenSaver ? 30 * 15 : 0);
            if (input != "first report only")
                QTest::mouseMove(&form, QPoint(31, 40));
        }
        QCoreApplication::processEvents();

        QCOMPARE(unloaded.count(), unloads ? 1 : 0);
        QCOMPARE(form.IsUnloaded(), unloads);
        QCOMPARE(form.isVisible(), !unloads);
        QCOMPARE(form.Timer().isActive(), !unloads);
        if (mode == ScreenSaver) {
            QCOMPARE(CursorDisplayCount(), unloads ? 0 : -1);
            QCOMPARE(QGuiApplication::overrideCursor() == nullptr, unloads);
            if (!unloads)
                ShowCursor(true);
        } else {
            QCOMPARE(CursorDisplayCount(), 0);
        }
    }

    // Closing the window some other way (a window manager's close) is an unload too.
    void closeIsUnload()
    {
        RunMode = ScreenSaver;
        frmCover form(m_clock, m_random, Screen);
        QSignalSpy unloaded(&form, &frmCover::unloaded);
        form.show();
        ShowCursor(false);
        form.close();
        QCOMPARE(unloaded.count(), 1);
        QCOMPARE(CursorDisplayCount(), 0);
        form.Unload();
        QCOMPARE(unloaded.count(), 1);
        QCOMPARE(CursorDisplayCount(), 0);
    }

    // Every size change switches the persistent image to the new size and shows a new picture
    // at once, however long the current one still had to go.
    void resizeShowsNewPicture_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("full screen") << int(ScreenSaver);
        QTest::newRow("preview") << int(Preview);
    }
    void resizeShowsNewPicture()
    {
        QFETCH(int, mode);
        RunMode = mode;
        frmCover form(m_clock, m_random, Screen);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(NextPictureTime, m_clock.now + 60s);
        QCOMPARE(form.Canvas().LogicalSize(), form.size());

        m_clock.now += 5s;
        form.resize(300, 200);
        QCOMPARE(form.Canvas().LogicalSize(), QSize(300, 200));
        QCOMPARE(form.Canvas().ScaleWidth(), 300 * 15.0f);
        QCOMPARE(NextPictureTime, m_clock.now + 60s);
        // Full screen shows the 40 x 20 picture whole; a preview of this screen a tenth of it,
        // at most. It is decoded away from the window, and shows once it is ready.
        if (mode == ScreenSaver)
            QTRY_COMPARE(CountGreen(form.Canvas().Image()), 40 * 20);
        else
            QTRY_VERIFY(CountGreen(form.Canvas().Image()) > 0 && CountGreen(form.Canvas().Image()) < 40 * 20);
    }

    // The window repaints from its persistent image: nothing is decoded again, even when the
    // file has gone in the meantime.
    void repaintsFromPersistentImage()
    {
        const QString path = m_dir.filePath("soon-gone.bmp");
        QVERIFY(vbtest::SavePicture(path, vbtest::Quadrants(QSize(60, 30)), "bmp"));
        PictureList = {path};
        RunMode = ScreenSaver;
        frmCover form(m_clock, m_random, Screen);
        form.resize(120, 90);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTRY_COMPARE(form.Canvas().Image().pixel(30, 30), qRgb(255, 0, 0));
        QVERIFY(QFile::remove(path));
        const QImage shown = form.grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown, form.Canvas().Image());
        QCOMPARE(shown.pixel(30, 30), qRgb(255, 0, 0));
        QCOMPARE(shown.pixel(0, 0), qRgb(0, 0, 0));
        form.repaint();
        QCOMPARE(form.grab().toImage().convertToFormat(QImage::Format_RGB32), shown);
    }

    // The timer runs from the moment the window is loaded, shown or not, every 750 ms.
    void timerRunsFromLoad()
    {
        RunMode = Preview;
        PictureList = PathList();
        NextPictureTime = m_clock.now + 1h;
        frmCover form(m_clock, m_random, Screen);
        QVERIFY(form.Timer().isActive());
        QCOMPARE(form.Timer().interval(), 750);
        QVERIFY(!form.isVisible());
        m_clock.now += 2h;
        QTRY_COMPARE(NextPictureTime, m_clock.now + 60s);
    }
};

QTEST_MAIN(tst_frmCover)
#include "tst_frmcover.moc"
