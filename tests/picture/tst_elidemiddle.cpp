#include "Fakes.h"
#include "InlineLoader.h"
#include "PictureFiles.h"
#include "TestSupport.h"
#include "cover/SlideTick.h"
#include "picture/ElideMiddle.h"
#include "picture/ImageCanvas.h"
#include "picture/PictureHolder.h"
#include "state/ModuleState.h"

#include <QFontMetricsF>
#include <QTemporaryDir>
#include <QTest>

using namespace vb;
using namespace std::chrono_literals;

// OutlineFileNames: the path shortened in the middle, and drawn outlined by the slide tick.
class tst_ElideMiddle : public QObject
{
    Q_OBJECT

private slots:
    // Every UTF-16 unit 10 wide, so "..." is 30.
    void elide_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qreal>("room");
        QTest::addColumn<QString>("shown");
        QTest::newRow("fits") << "abcdef" << 60.0 << "abcdef";
        QTest::newRow("empty") << "" << 0.0 << "";
        QTest::newRow("one too many") << "abcdefg" << 60.0 << "ab...g";
        QTest::newRow("both ends of a path") << "/home/alex/Pictures/photo.jpg" << 150.0 << "/home/...to.jpg";
        QTest::newRow("room for the dots only") << "abcdef" << 35.0 << "...";
        QTest::newRow("less than the dots") << "abcdef" << 10.0 << "...";
        QTest::newRow("a pair of units is one character")
            << QString::fromUtf8("ab\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80"
                                 "cd")
            << 90.0 << QString::fromUtf8("ab\xf0\x9f\x98\x80...cd");
        QTest::newRow("combining accent stays with its letter") << QString::fromUtf8("e\xcc\x81"
                                                                                     "bcdefgh")
                                                                << 60.0 << QString::fromUtf8("e\xcc\x81...h");
    }
    void elide()
    {
        QFETCH(QString, text);
        QFETCH(qreal, room);
        QFETCH(QString, shown);
        QCOMPARE(ElideMiddle(text, room, [](QStringView t) { return 10.0 * qreal(t.size()); }), shown);
    }

    // On a white picture the plain caption vanishes and the outlined one shows, shortened to the
    // window's width when the path is longer.
    void outlinedCaption_data()
    {
        QTest::addColumn<int>("outline");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << 0 << "white.bmp";
        QTest::newRow("outlined") << -1 << "white.bmp";
        QTest::newRow("outlined, wider than the window")
            << -1 << "a very long name that will never fit into a window two hundred pixels wide.bmp";
    }
    void outlinedCaption()
    {
        QFETCH(int, outline);
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        QVERIFY(vbtest::SavePicture(path, vbtest::Solid(QSize(200, 100), Qt::white), "bmp"));
        RunMode = ScreenSaver;
        ShowFileNames = -1;
        OutlineFileNames = qint16(outline);
        PictureList = {path};
        vbtest::FakeClock clock;
        vbtest::FakeRandom random;
        ImageCanvas canvas;
        InlineLoader loader;
        SlideTick tick(
            clock, random, canvas, loader, [] { return QSizeF(); }, {},
            PictureHolder::DefaultDecodeLimitMegabytes);
        canvas.Resize(QSize(200, 100), 1.0);
        canvas.SetFont(QFont("DejaVu Sans", 10));
        clock.now += 1h;
        QVERIFY(tick.Run());

        const QImage& image = canvas.Image();
        int dark = 0, right = -1;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qGray(image.pixel(x, y)) < 100) {
                    ++dark;
                    right = std::max(right, x);
                }
        QCOMPARE(dark > 0, outline != 0);
        QCOMPARE(qGray(image.pixel(100, 60)), 255);
        if (outline == 0)
            return;
        // The text drawn is the shortened one: its ink ends where that text ends, inside the window.
        const QFontMetricsF metrics(canvas.Font(), &image);
        const QString shown =
            ElideMiddle(path, 200, [&](QStringView t) { return metrics.horizontalAdvance(t.toString()); });
        QCOMPARE(shown.contains("..."), metrics.horizontalAdvance(path) > 200);
        QVERIFY2(std::abs(right - metrics.horizontalAdvance(shown)) <= 3,
                 qPrintable(QString("ink ends at %1 for \"%2\"").arg(right).arg(shown)));
    }
};

QTEST_MAIN(tst_ElideMiddle)
#include "tst_elidemiddle.moc"
