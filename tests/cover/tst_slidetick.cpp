#include "PictureFiles.h"
#include "TestSupport.h"
#include "app/ModuleState.h"
#include "cover/ImageCanvas.h"
#include "cover/PictureHolder.h"
#include "cover/SlideTick.h"
#include "platform/Clock.h"
#include "platform/RandomSource.h"

#include <QBuffer>
#include <QDir>
#include <QFontMetricsF>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

// Every allocation of the process is counted, to show what a tick that is not due costs.
namespace {
std::atomic<long> g_allocations{0};
}
void* operator new(std::size_t size)
{
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

using namespace vb;
using namespace std::chrono_literals;

namespace {

class FakeClock final : public Clock
{
public:
    DateTime now = DateTime{} + std::chrono::hours(24 * 365 * 50);
    mutable int reads = 0;
    DateTime Now() const override
    {
        ++reads;
        return now;
    }
};

class FakeRandom final : public RandomSource
{
public:
    double next = 0;
    int calls = 0;
    void Randomize() override {}
    double Rnd() override
    {
        ++calls;
        return next;
    }
};

// The tick with everything it works on: a canvas of `canvasSize` logical pixels, a screen of
// 2000 x 1000 unless changed.
struct Rig
{
    FakeClock clock;
    FakeRandom random;
    ImageCanvas canvas;
    PictureHolder picHidden;
    QSizeF screen{2000 * 15.0, 1000 * 15.0};
    int screenReads = 0;
    SlideTick tick;

    explicit Rig(QSize canvasSize = QSize(200, 100), qreal ratio = 1.0,
                 int decodeLimit = PictureHolder::DefaultDecodeLimitMegabytes)
        : picHidden(decodeLimit), tick(clock, random, canvas, picHidden, [this] {
              ++screenReads;
              return screen;
          })
    {
        canvas.Resize(canvasSize, ratio);
        picHidden.SetDevicePixelRatio(ratio);
    }
    void SetScreen(QSize logical) { screen = QSizeF(logical.width() * 15.0, logical.height() * 15.0); }
    // A due run: the clock moves one hour on.
    bool Change()
    {
        clock.now += 1h;
        return tick.Run();
    }
};

bool IsRed(QRgb c)
{
    return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
}
bool IsGreen(QRgb c)
{
    return qGreen(c) > 200 && qRed(c) < 60 && qBlue(c) < 60;
}
bool IsBlack(QRgb c)
{
    return qRed(c) < 40 && qGreen(c) < 40 && qBlue(c) < 40;
}
bool IsTextWhite(QRgb c)
{
    return qRed(c) > 150 && qGreen(c) > 150 && qBlue(c) > 150;
}

int Count(const QImage& image, const QRect& area, bool (*test)(QRgb))
{
    int count = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            count += test(image.pixel(x, y)) ? 1 : 0;
    return count;
}

// The picture as Qt decodes it whole, upright.
QImage Reference(const QString& path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    return reader.read().convertToFormat(QImage::Format_RGB32);
}

// The full-screen cross is there: red at the corners and the centre, `background` far from both
// lines.
void VerifyCross(const QImage& image, bool (*background)(QRgb))
{
    const int w = image.width(), h = image.height();
    for (const QPoint p :
         {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1), QPoint(w / 2, h / 2)})
        QVERIFY2(IsRed(image.pixel(p)), qPrintable(QString("(%1, %2)").arg(p.x()).arg(p.y())));
    QVERIFY(background(image.pixel(w / 2, h / 10)));
    QVERIFY(background(image.pixel(w / 20, h / 2)));
}

} // namespace

class tst_SlideTick : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_green; // 200 x 100, fills the default canvas

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_green = m_dir.filePath("green.bmp");
        QVERIFY(vbtest::SavePicture(m_green, vbtest::Solid(QSize(200, 100), Qt::green), "bmp"));
    }
    void init()
    {
        ResetModuleState();
        RunMode = ScreenSaver;
    }

    // A tick strictly before NextPictureTime does nothing at all: it reads the clock once and
    // neither draws, picks, asks for the screen nor allocates.
    void dueTest_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("fromProcessStart");
        QTest::addColumn<qint64>("offsetMs");
        QTest::addColumn<bool>("due");
        for (const int mode : {int(ScreenSaver), int(Preview)}) {
            const char* m = mode == Preview ? "preview" : "full screen";
            QTest::addRow("%s: a moment before", m) << mode << false << qint64(-1) << false;
            QTest::addRow("%s: an hour before", m) << mode << false << qint64(-3600000) << false;
            QTest::addRow("%s: exactly at", m) << mode << false << qint64(0) << true;
            QTest::addRow("%s: after", m) << mode << false << qint64(2500) << true;
            QTest::addRow("%s: first tick of the process", m) << mode << true << qint64(0) << true;
        }
    }
    void dueTest()
    {
        QFETCH(int, mode);
        QFETCH(bool, fromProcessStart);
        QFETCH(qint64, offsetMs);
        QFETCH(bool, due);
        RunMode = mode;
        IntervalSeconds = 7;
        PictureList = {m_green};
        Rig rig;
        const DateTime next = rig.clock.now;
        NextPictureTime = fromProcessStart ? DateTime{} : next;
        rig.clock.now = next + std::chrono::milliseconds(offsetMs);
        const QImage before = rig.canvas.Image().copy();

        const long allocationsBefore = g_allocations;
        const bool ran = rig.tick.Run();
        const long allocations = g_allocations - allocationsBefore;

        QCOMPARE(ran, due);
        if (due) {
            QCOMPARE(NextPictureTime, rig.clock.now + 7s);
            QCOMPARE(rig.random.calls, 1);
            QVERIFY(Count(rig.canvas.Image(), rig.canvas.Image().rect(), IsGreen) > 0);
        } else {
            QCOMPARE(NextPictureTime, next);
            QCOMPARE(rig.clock.reads, 1);
            QCOMPARE(rig.random.calls, 0);
            QCOMPARE(rig.screenReads, 0);
            QCOMPARE(allocations, 0L);
            QVERIFY(rig.canvas.Image() == before);
        }
    }

    // After a change the next comes at the first tick at or after IntervalSeconds; with none
    // (0 or less) every tick changes; a clock set back waits until it reaches the time again.
    void nextChange_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<qint64>("secondTickMs");
        QTest::addColumn<bool>("changes");
        QTest::newRow("9 s: a moment early") << 9 << qint64(8999) << false;
        QTest::newRow("9 s: on time") << 9 << qint64(9000) << true;
        QTest::newRow("9 s: late") << 9 << qint64(60000) << true;
        QTest::newRow("0 s: same moment") << 0 << qint64(0) << true;
        QTest::newRow("-5 s: same moment") << -5 << qint64(0) << true;
        QTest::newRow("clock set back an hour") << 60 << qint64(-3600000) << false;
        QTest::newRow("clock back, then on to the time") << 60 << qint64(60000) << true;
    }
    void nextChange()
    {
        QFETCH(int, interval);
        QFETCH(qint64, secondTickMs);
        QFETCH(bool, changes);
        IntervalSeconds = interval;
        PictureList = {m_green};
        Rig rig;
        QVERIFY(rig.Change());
        const DateTime first = rig.clock.now;
        QCOMPARE(NextPictureTime, first + std::chrono::seconds(interval));
        rig.clock.now = first + std::chrono::milliseconds(secondTickMs);
        QCOMPARE(rig.tick.Run(), changes);
        QCOMPARE(rig.random.calls, changes ? 2 : 1);
    }

    // The next change is scheduled before the list is looked at; an empty list draws the cross
    // over what the window shows, without clearing it, in either mode.
    void emptyListDrawsCrossOverOldContent_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("full screen") << int(ScreenSaver);
        QTest::newRow("preview") << int(Preview);
    }
    void emptyListDrawsCrossOverOldContent()
    {
        QFETCH(int, mode);
        RunMode = ScreenSaver;
        ShowFileNames = -1;
        PictureList = {m_green};
        Rig rig;
        QVERIFY(rig.Change());
        QCOMPARE(Count(rig.canvas.Image(), QRect(0, 30, 200, 40), IsGreen), 200 * 40);

        RunMode = mode;
        PictureList = QStringList();
        IntervalSeconds = 30;
        QVERIFY(rig.Change());
        QCOMPARE(NextPictureTime, rig.clock.now + 30s);
        QCOMPARE(rig.random.calls, 1);
        VerifyCross(rig.canvas.Image(), IsGreen);
        QCOMPARE(rig.canvas.DrawWidth(), 5);

        // A tick before the new time leaves it alone.
        rig.clock.now += 29s;
        QVERIFY(!rig.tick.Run());
    }

    // Two plain lines 5 pixels wide: about 5.6 pixels of each per column at this slope.
    void crossIsFivePixelsWide()
    {
        Rig rig;
        QVERIFY(rig.Change());
        const QImage& image = rig.canvas.Image();
        for (const int x : {40, 160}) {
            QCOMPARE(IsRed(image.pixel(x, 50)), false);
            const int upper = Count(image, QRect(x, 0, 1, 50), IsRed);
            const int lower = Count(image, QRect(x, 50, 1, 50), IsRed);
            QVERIFY2(upper >= 5 && upper <= 6, qPrintable(QString::number(upper)));
            QVERIFY2(lower >= 5 && lower <= 6, qPrintable(QString::number(lower)));
        }
    }

    // The pick reaches the first and the last entry and every entry of long lists, beyond the
    // 32767 a 16-bit index would hold. Only the expected entry is a picture; any other pick
    // would show the cross.
    void pickBounds_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("rnd");
        QTest::addColumn<int>("entry");
        const double belowOne = std::nextafter(1.0, 0.0);
        QTest::newRow("one entry, 0") << 1 << 0.0 << 1;
        QTest::newRow("one entry, just below 1") << 1 << belowOne << 1;
        QTest::newRow("three, 0") << 3 << 0.0 << 1;
        QTest::newRow("three, 1/3") << 3 << 1.0 / 3 << 2;
        QTest::newRow("three, just below 1") << 3 << belowOne << 3;
        QTest::newRow("40000, past 32767") << 40000 << 32767.5 / 40000 << 32768;
        QTest::newRow("100000, just below 1") << 100000 << belowOne << 100000;
        QTest::newRow("3000000, middle") << 3000000 << 0.5 << 1500001;
    }
    void pickBounds()
    {
        QFETCH(int, count);
        QFETCH(double, rnd);
        QFETCH(int, entry);
        PictureList = QStringList(count, m_dir.filePath("missing.bmp"));
        PictureList[entry - 1] = m_green;
        Rig rig;
        rig.random.next = rnd;
        QVERIFY(rig.Change());
        QCOMPARE(rig.picHidden.Path(), m_green);
        QCOMPARE(Count(rig.canvas.Image(), rig.canvas.Image().rect(), IsGreen), 200 * 100);
    }

    // Full screen: own size, centred on black; larger pictures are cut at the edges, never
    // scaled; one picture pixel to one device pixel at any device-pixel ratio.
    void fullScreenPlacement_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QPoint>("topLeft"); // device pixels
        QTest::addColumn<int>("tolerance");
        QTest::newRow("bmp smaller") << "bmp" << 1.0 << QSize(100, 50) << QPoint(50, 25) << 0;
        QTest::newRow("bmp odd free space") << "bmp" << 1.0 << QSize(101, 51) << QPoint(50, 25) << 0;
        QTest::newRow("bmp one pixel") << "bmp" << 1.0 << QSize(1, 1) << QPoint(100, 50) << 0;
        QTest::newRow("bmp same size") << "bmp" << 1.0 << QSize(200, 100) << QPoint(0, 0) << 0;
        QTest::newRow("bmp larger, cropped") << "bmp" << 1.0 << QSize(400, 300) << QPoint(-100, -100) << 0;
        QTest::newRow("bmp taller only") << "bmp" << 1.0 << QSize(50, 300) << QPoint(75, -100) << 0;
        QTest::newRow("bmp ratio 2") << "bmp" << 2.0 << QSize(100, 50) << QPoint(150, 75) << 0;
        QTest::newRow("bmp ratio 1.5") << "bmp" << 1.5 << QSize(100, 50) << QPoint(100, 50) << 0;
        QTest::newRow("gif smaller") << "gif" << 1.0 << QSize(100, 50) << QPoint(50, 25) << 0;
        QTest::newRow("jpg smaller") << "jpg" << 1.0 << QSize(100, 50) << QPoint(50, 25) << 4;
        // One component: the decoder makes an image of its own, drawn onto the canvas.
        QTest::newRow("jpg greyscale, larger")
            << "jpg-grey" << 1.0 << QSize(400, 300) << QPoint(-100, -100) << 4;
        QTest::newRow("jpg larger, clipped decode")
            << "jpg" << 1.0 << QSize(400, 300) << QPoint(-100, -100) << 4;
        QTest::newRow("jpg larger, ratio 2") << "jpg" << 2.0 << QSize(1000, 500) << QPoint(-300, -150) << 4;
        // Halves of a pixel round up, on either side of zero: -1.5 gives -1.
        QTest::newRow("jpg off-centre crop") << "jpg" << 1.0 << QSize(203, 117) << QPoint(-1, -8) << 4;
    }
    void fullScreenPlacement()
    {
        QFETCH(QString, format);
        QFETCH(qreal, ratio);
        QFETCH(QSize, picture);
        QFETCH(QPoint, topLeft);
        QFETCH(int, tolerance);
        const QString path = m_dir.filePath(QString("%1-%2x%3.%4")
                                                .arg(QTest::currentDataTag())
                                                .arg(picture.width())
                                                .arg(picture.height())
                                                .arg(format.left(3)));
        if (format == "gif") {
            const QString png = path + ".png";
            QVERIFY(vbtest::SavePicture(png, vbtest::Quadrants(picture), "png"));
            QCOMPARE(QProcess::execute("convert", {png, path}), 0);
        } else if (format == "jpg-grey") {
            const QImage grey = vbtest::GreyQuadrants(picture).convertToFormat(QImage::Format_Grayscale8);
            QVERIFY(vbtest::SavePicture(path, grey, "jpg"));
            QCOMPARE(QImageReader(path).imageFormat(), QImage::Format_Grayscale8);
        } else {
            const QImage image =
                format == "jpg" ? vbtest::GreyQuadrants(picture) : vbtest::Quadrants(picture);
            QVERIFY(vbtest::SavePicture(path, image, format.toLatin1()));
        }
        PictureList = {path};
        Rig rig(QSize(200, 100), ratio);
        QVERIFY(rig.Change());
        QCOMPARE(rig.picHidden.PixelSize(), picture);

        QImage expected(rig.canvas.Image().size(), QImage::Format_RGB32);
        expected.fill(Qt::black);
        QPainter(&expected).drawImage(topLeft, Reference(path));
        const QImage& canvas = rig.canvas.Image();
        for (int y = 0; y < canvas.height(); ++y)
            for (int x = 0; x < canvas.width(); ++x)
                if (!vbtest::Near(canvas.pixel(x, y), expected.pixel(x, y), tolerance))
                    QFAIL(qPrintable(QString("pixel (%1, %2) is %3, expected %4")
                                         .arg(x)
                                         .arg(y)
                                         .arg(canvas.pixel(x, y), 0, 16)
                                         .arg(expected.pixel(x, y), 0, 16)));
    }

    // Preview: the picture reduced by the smaller of the two preview-to-screen ratios (the
    // height's at a tie) and centred; not fitted, so a picture larger than the screen overflows.
    void previewPlacement_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QSize>("canvas");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QRect>("drawn"); // device pixels
        QTest::newRow("a tenth of the screen") << "bmp" << QSize(200, 100) << 1.0 << QSize(2000, 1000)
                                               << QSize(400, 200) << QRect(80, 40, 40, 20);
        QTest::newRow("wider preview: height ratio") << "bmp" << QSize(300, 100) << 1.0 << QSize(2000, 1000)
                                                     << QSize(400, 200) << QRect(130, 40, 40, 20);
        QTest::newRow("taller preview: width ratio") << "bmp" << QSize(200, 150) << 1.0 << QSize(2000, 1000)
                                                     << QSize(400, 200) << QRect(80, 65, 40, 20);
        QTest::newRow("tie, square") << "bmp" << QSize(100, 100) << 1.0 << QSize(1000, 1000)
                                     << QSize(300, 100) << QRect(35, 45, 30, 10);
        QTest::newRow("ratio 2") << "bmp" << QSize(200, 100) << 2.0 << QSize(2000, 1000) << QSize(400, 200)
                                 << QRect(180, 90, 40, 20);
        QTest::newRow("jpg scaled in the decoder") << "jpg" << QSize(200, 100) << 1.0 << QSize(2000, 1000)
                                                   << QSize(800, 400) << QRect(60, 30, 80, 40);
        QTest::newRow("jpg larger than the screen overflows")
            << "jpg" << QSize(200, 100) << 1.0 << QSize(2000, 1000) << QSize(4000, 2000)
            << QRect(-100, -50, 400, 200);
        QTest::newRow("gif") << "gif" << QSize(200, 100) << 1.0 << QSize(2000, 1000) << QSize(400, 200)
                             << QRect(80, 40, 40, 20);
    }
    void previewPlacement()
    {
        QFETCH(QString, format);
        QFETCH(QSize, canvas);
        QFETCH(qreal, ratio);
        QFETCH(QSize, screen);
        QFETCH(QSize, picture);
        QFETCH(QRect, drawn);
        const QString path =
            m_dir.filePath(QString("preview-%1.%2").arg(QTest::currentDataTag()).arg(format));
        if (format == "gif") {
            QVERIFY(vbtest::SavePicture(path + ".png", vbtest::Quadrants(picture), "png"));
            QCOMPARE(QProcess::execute("convert", {path + ".png", path}), 0);
        } else {
            QVERIFY(vbtest::SavePicture(path, vbtest::Quadrants(picture), format.toLatin1()));
        }
        RunMode = Preview;
        ShowFileNames = -1;
        PictureList = {path};
        Rig rig(canvas, ratio);
        rig.SetScreen(screen);
        QVERIFY(rig.Change());
        QCOMPARE(rig.screenReads, 1);

        const QImage& image = rig.canvas.Image();
        const QRect visible = drawn.intersected(image.rect());
        auto notBlack = [](QRgb c) {
            return !IsBlack(c);
        };
        int lit = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                lit += notBlack(image.pixel(x, y)) ? 1 : 0;
        QCOMPARE(lit, visible.width() * visible.height());
        QVERIFY(notBlack(image.pixel(visible.topLeft())));
        QVERIFY(notBlack(image.pixel(visible.bottomRight())));
        // The quadrants, right way round, around the picture's centre.
        const QPoint c = drawn.center() + QPoint(1, 1);
        const int dx = std::min(drawn.width() / 4, 20), dy = std::min(drawn.height() / 4, 10);
        QVERIFY(vbtest::Near(image.pixel(c + QPoint(-dx, -dy)), qRgb(255, 0, 0), 40));
        QVERIFY(vbtest::Near(image.pixel(c + QPoint(dx - 1, -dy)), qRgb(0, 255, 0), 40));
        QVERIFY(vbtest::Near(image.pixel(c + QPoint(-dx, dy - 1)), qRgb(0, 0, 255), 40));
        QVERIFY(vbtest::Near(image.pixel(c + QPoint(dx - 1, dy - 1)), qRgb(255, 255, 0), 40));
    }

    // A camera's stored orientation is applied: the own size is the upright one, and the parts
    // cut out or scaled by the decoder are the right ones, in every orientation.
    void exifOrientation_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<int>("mode");
        for (int orientation = 1; orientation <= 8; ++orientation) {
            QTest::addRow("%d, full screen", orientation) << orientation << int(ScreenSaver);
            QTest::addRow("%d, preview", orientation) << orientation << int(Preview);
        }
    }
    void exifOrientation()
    {
        QFETCH(int, orientation);
        QFETCH(int, mode);
        const QString path = m_dir.filePath(QString("exif-%1.jpg").arg(orientation));
        QVERIFY(vbtest::WriteFile(
            path, vbtest::JpegWithOrientation(vbtest::Quadrants(QSize(64, 48)), orientation)));
        const QImage upright = Reference(path);
        QCOMPARE(upright.size(), orientation >= 5 ? QSize(48, 64) : QSize(64, 48));

        RunMode = mode;
        PictureList = {path};
        Rig rig(QSize(40, 30));
        rig.SetScreen(QSize(80, 60));
        QVERIFY(rig.Change());
        QCOMPARE(rig.picHidden.PixelSize(), upright.size());
        const QImage& image = rig.canvas.Image();

        if (mode == ScreenSaver) {
            const QPoint offset((40 - upright.width()) / 2, (30 - upright.height()) / 2);
            for (int y = 0; y < 30; ++y)
                for (int x = 0; x < 40; ++x)
                    QVERIFY2(vbtest::Near(image.pixel(x, y), upright.pixel(QPoint(x, y) - offset), 24),
                             qPrintable(QString("(%1, %2)").arg(x).arg(y)));
        } else {
            // Half size, centred.
            const QPointF topLeft((40 - upright.width() * 0.5) / 2, (30 - upright.height() * 0.5) / 2);
            for (const QPointF q :
                 {QPointF(0.25, 0.25), QPointF(0.75, 0.25), QPointF(0.25, 0.75), QPointF(0.75, 0.75)}) {
                const QPoint source(int(q.x() * upright.width()), int(q.y() * upright.height()));
                const QPoint shown = (topLeft + QPointF(source) * 0.5).toPoint();
                if (image.rect().contains(shown))
                    QVERIFY2(vbtest::Near(image.pixel(shown), upright.pixel(source), 48),
                             qPrintable(QString("(%1, %2)").arg(shown.x()).arg(shown.y())));
            }
        }
    }

    // The path of the picture shown, exactly as stored, from the top-left corner; only in full
    // screen and only with ShowFileNames (any value but 0).
    void pathPrinted_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("showFileNames");
        QTest::addColumn<bool>("printed");
        QTest::newRow("full screen, -1") << int(ScreenSaver) << -1 << true;
        QTest::newRow("full screen, 1") << int(ScreenSaver) << 1 << true;
        QTest::newRow("full screen, 0") << int(ScreenSaver) << 0 << false;
        QTest::newRow("preview, -1") << int(Preview) << -1 << false;
        QTest::newRow("preview, 0") << int(Preview) << 0 << false;
    }
    void pathPrinted()
    {
        QFETCH(int, mode);
        QFETCH(int, showFileNames);
        QFETCH(bool, printed);
        const QString shortPath = m_dir.filePath("s.bmp");
        const QString longPath = m_dir.filePath("a picture with a rather long name, 01.bmp");
        for (const QString& path : {shortPath, longPath})
            QVERIFY(vbtest::SavePicture(path, vbtest::Solid(QSize(10, 10), Qt::green), "bmp"));
        RunMode = mode;
        ShowFileNames = qint16(showFileNames);
        PictureList = {shortPath, longPath};
        Rig rig(QSize(1000, 100));
        rig.SetScreen(QSize(1000, 100));
        rig.random.next = 0.75;
        QVERIFY(rig.Change());
        QCOMPARE(rig.picHidden.Path(), longPath);

        const QImage& image = rig.canvas.Image();
        QVERIFY(Count(image, image.rect(), IsGreen) > 0);
        const QRect strip(0, 0, 1000, 30);
        QCOMPARE(Count(image, strip, IsTextWhite) > 0, printed);
        QCOMPARE(Count(image, QRect(0, 30, 1000, 70), IsTextWhite), 0);
        if (!printed)
            return;
        int left = 1000, right = -1, top = 100;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 1000; ++x)
                if (IsTextWhite(image.pixel(x, y))) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                    top = std::min(top, y);
                }
        QVERIFY2(left <= 3 && top <= 8, qPrintable(QString("text starts at (%1, %2)").arg(left).arg(top)));
        const qreal width = QFontMetricsF(rig.canvas.Font(), &image).horizontalAdvance(longPath);
        QVERIFY2(std::abs(right - width) <= 4,
                 qPrintable(QString("text ends at %1, not %2").arg(right).arg(width)));
    }

    // Whatever keeps a picture from showing gives a black window with the cross, no path, and
    // the next change at the next interval.
    void failureGivesBlackAndCross_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content"); // "<none>": no file, "<folder>": a folder
        QTest::addColumn<int>("decodeLimit");
        QTest::addColumn<int>("mode");
        const int limit = PictureHolder::DefaultDecodeLimitMegabytes;
        QByteArray headerOnly;
        {
            QBuffer b(&headerOnly);
            b.open(QIODevice::WriteOnly);
            vbtest::Solid(QSize(64, 64), Qt::blue).save(&b, "jpg");
            headerOnly.truncate(headerOnly.indexOf("\xff\xda"));
        }
        QByteArray bigBmpSmallLimit;
        {
            QBuffer b(&bigBmpSmallLimit);
            b.open(QIODevice::WriteOnly);
            vbtest::Solid(QSize(1000, 1000), Qt::blue).save(&b, "bmp");
        }
        for (const int mode : {int(ScreenSaver), int(Preview)}) {
            const char* m = mode == Preview ? "preview" : "full screen";
            QTest::addRow("%s: missing file", m) << "missing.jpg" << QByteArray("<none>") << limit << mode;
            QTest::addRow("%s: empty path", m) << "" << QByteArray("<none>") << limit << mode;
            QTest::addRow("%s: empty file", m) << "empty.jpg" << QByteArray() << limit << mode;
            QTest::addRow("%s: text named .jpg", m)
                << "text.jpg" << QByteArray("hello, world\n") << limit << mode;
            QTest::addRow("%s: text named .bmp", m)
                << "text.bmp" << QByteArray("BM not really") << limit << mode;
            QTest::addRow("%s: JPEG without image data", m) << "header.jpg" << headerOnly << limit << mode;
            QTest::addRow("%s: folder", m) << "folder.gif" << QByteArray("<folder>") << limit << mode;
            QTest::addRow("%s: GIF decoding to 288 MB", m)
                << "huge.gif" << vbtest::GifWithCanvas(QSize(9000, 8000)) << limit << mode;
            QTest::addRow("%s: BMP beyond a 1 MB limit", m) << "big.bmp" << bigBmpSmallLimit << 1 << mode;
        }
    }
    void failureGivesBlackAndCross()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(int, decodeLimit);
        QFETCH(int, mode);
        QTemporaryDir dir;
        const QString path = name.isEmpty() ? QString() : dir.filePath(name);
        if (content == "<folder>")
            QVERIFY(QDir().mkpath(path));
        else if (content != "<none>")
            QVERIFY(vbtest::WriteFile(path, content));

        ShowFileNames = -1;
        PictureList = {m_green};
        Rig rig(QSize(200, 100), 1.0, decodeLimit);
        QVERIFY(rig.Change());
        RunMode = mode;
        PictureList = {path};
        IntervalSeconds = 45;
        QVERIFY(rig.Change());
        QCOMPARE(NextPictureTime, rig.clock.now + 45s);
        const QImage& image = rig.canvas.Image();
        QCOMPARE(Count(image, image.rect(), IsGreen), 0);
        QCOMPARE(Count(image, image.rect(), IsTextWhite), 0);
        VerifyCross(image, IsBlack);
    }

    // Only the visible part is decoded: a JPEG that would need 16 MB whole shows under a 1 MB
    // limit, in full screen (cut out) and in preview (scaled in the decoder).
    void decodesOnlyWhatShows_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("full screen") << int(ScreenSaver);
        QTest::newRow("preview") << int(Preview);
    }
    void decodesOnlyWhatShows()
    {
        QFETCH(int, mode);
        const QString path = m_dir.filePath("large.jpg");
        if (!QFile::exists(path))
            QVERIFY(vbtest::SavePicture(path, vbtest::Solid(QSize(2000, 2000), Qt::green), "jpg"));
        RunMode = mode;
        PictureList = {path};
        Rig rig(QSize(200, 100), 1.0, 1);
        QVERIFY(rig.Change());
        QCOMPARE(rig.picHidden.PixelSize(), QSize(2000, 2000));
        QCOMPARE(Count(rig.canvas.Image(), rig.canvas.Image().rect(), IsGreen), 200 * 100);
    }

    // A failure keeps the last picture that loaded in picHidden; the next change works again.
    void recoversAfterFailure()
    {
        PictureList = {m_dir.filePath("gone.bmp")};
        Rig rig;
        QVERIFY(rig.Change());
        QVERIFY(rig.picHidden.IsEmpty());
        PictureList = {m_green};
        QVERIFY(rig.Change());
        QCOMPARE(rig.picHidden.Path(), m_green);
        PictureList = {m_dir.filePath("gone.bmp")};
        QVERIFY(rig.Change());
        QCOMPARE(rig.picHidden.Path(), m_green);
        QCOMPARE(Count(rig.canvas.Image(), rig.canvas.Image().rect(), IsGreen), 0);
    }
};

QTEST_MAIN(tst_SlideTick)
#include "tst_slidetick.moc"
