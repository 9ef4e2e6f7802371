#include "AllocationCounter.h"
#include "Fakes.h"
#include "InlineLoader.h"
#include "PictureFiles.h"
#include "TestSupport.h"
#include "cover/SlideTick.h"
#include "picture/Colours.h"
#include "picture/FramePainter.h"
#include "picture/ImageCanvas.h"
#include "picture/PictureHolder.h"
#include "picture/PictureLoader.h"
#include "state/ModuleState.h"

#include <QBuffer>
#include <QDir>
#include <QFontMetricsF>
#include <QImageReader>
#include <QLocale>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <cstdlib>

using namespace vb;
using namespace std::chrono_literals;

namespace {

// The tick with everything it works on; the screen is 2000 x 1000 logical pixels. Its loader
// answers at once, so a due run returns with its picture shown and the next one made ready.
struct Rig
{
    vbtest::FakeClock clock;
    vbtest::FakeRandom random;
    ImageCanvas canvas;
    InlineLoader loader;
    int screenReads = 0;
    SlideTick tick;

    explicit Rig(QSize canvasSize = QSize(200, 100), qreal ratio = 1.0,
                 int decodeLimit = PictureHolder::DefaultDecodeLimitMegabytes, qreal reduction = 1.0)
        : tick(
              clock, random, canvas, loader,
              [this] {
                  ++screenReads;
                  return QSizeF(2000 * 15.0, 1000 * 15.0);
              },
              {}, decodeLimit)
    {
        canvas.Resize(canvasSize, ratio, QSize(), reduction);
    }
    // A due run: the clock moves an hour on.
    bool Change()
    {
        clock.now += 1h;
        return tick.Run();
    }
};

// Answers the tick's requests only when told.
struct FakeLoader final : PictureLoader
{
    Receiver receiver;
    std::vector<FrameRequest> requests;
    void SetReceiver(Receiver r) override { receiver = std::move(r); }
    void Request(FrameRequest r) override { requests.push_back(std::move(r)); }
    void Answer(size_t i) { receiver(RenderFrame(requests.at(i))); }
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
bool IsLit(QRgb c)
{
    return !IsBlack(c);
}
bool IsTextWhite(QRgb c)
{
    return qRed(c) > 150 && qGreen(c) > 150 && qBlue(c) > 150;
}

int Count(const QImage& image, bool (*test)(QRgb), QRect area = QRect())
{
    int count = 0;
    const QRect r = area.isNull() ? image.rect() : area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            count += test(image.pixel(x, y)) ? 1 : 0;
    return count;
}

// The full-screen cross: red at the corners and the centre, `background` far from both lines.
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
        m_green = m_dir.filePath("green.bmp");
        QVERIFY(vbtest::SavePicture(m_green, vbtest::Solid(QSize(200, 100), Qt::green), "bmp"));
    }
    void init()
    {
        ResetModuleState();
        RunMode = ScreenSaver;
    }

    // Strictly before NextPictureTime a tick reads the clock once and does nothing else: no
    // drawing, no pick, no screen size, no allocation. A due one picks twice and asks the screen
    // size twice: for its own picture and for the next, made ready ahead.
    void dueTest_data()
    {
        QTest::addColumn<bool>("fromProcessStart");
        QTest::addColumn<qint64>("offsetMs");
        QTest::addColumn<bool>("due");
        QTest::newRow("a moment before") << false << qint64(-1) << false;
        QTest::newRow("an hour before") << false << qint64(-3600000) << false;
        QTest::newRow("exactly at") << false << qint64(0) << true;
        QTest::newRow("after") << false << qint64(2500) << true;
        QTest::newRow("first tick of the process") << true << qint64(0) << true;
    }
    void dueTest()
    {
        QFETCH(bool, fromProcessStart);
        QFETCH(qint64, offsetMs);
        QFETCH(bool, due);
        RunMode = Preview;
        IntervalSeconds = 7;
        PictureList = {m_green};
        Rig rig;
        const DateTime next = rig.clock.now;
        NextPictureTime = fromProcessStart ? DateTime{} : next;
        rig.clock.now = next + std::chrono::milliseconds(offsetMs);
        const QImage before = rig.canvas.Image().copy();

        const long allocationsBefore = vbtest::AllocationCount();
        QCOMPARE(rig.tick.Run(), due);
        const long allocations = vbtest::AllocationCount() - allocationsBefore;

        QCOMPARE(NextPictureTime, due ? rig.clock.now + 7s : next);
        QCOMPARE(rig.random.calls, due ? 2 : 0);
        QCOMPARE(rig.screenReads, due ? 2 : 0);
        QCOMPARE(rig.canvas.Image() == before, !due);
        if (!due) {
            QCOMPARE(rig.clock.reads, 1);
            QCOMPARE(allocations, 0L);
        }
    }

    // The next change comes at the first tick at or after IntervalSeconds; with no interval
    // (0 or less) every tick changes; a clock set back waits until it reaches the time again.
    // The first change picks its own picture and the next; each change after it picks one more.
    void nextChange_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<qint64>("secondTickMs");
        QTest::addColumn<bool>("changes");
        QTest::newRow("9 s: a moment early") << 9 << qint64(8999) << false;
        QTest::newRow("9 s: on time") << 9 << qint64(9000) << true;
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
        rig.clock.now = first + std::chrono::milliseconds(secondTickMs);
        QCOMPARE(rig.tick.Run(), changes);
        QCOMPARE(rig.random.calls, changes ? 3 : 2);
    }

    // Scheduled before the list is looked at; an empty list clears the window and draws the
    // cross, in either mode, and picks nothing.
    void emptyListDrawsCrossOnClearedWindow_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("full screen") << int(ScreenSaver);
        QTest::newRow("preview") << int(Preview);
    }
    void emptyListDrawsCrossOnClearedWindow()
    {
        QFETCH(int, mode);
        ShowFileNames = -1;
        PictureList = {m_green};
        Rig rig;
        QVERIFY(rig.Change());
        QCOMPARE(Count(rig.canvas.Image(), IsGreen, QRect(0, 30, 200, 70)), 200 * 70); // below the path
        const int picks = rig.random.calls;

        RunMode = mode;
        PictureList = PathList();
        IntervalSeconds = 30;
        QVERIFY(rig.Change());
        QCOMPARE(NextPictureTime, rig.clock.now + 30s);
        QCOMPARE(rig.random.calls, picks);
        VerifyCross(rig.canvas.Image(), IsBlack);
        rig.clock.now += 29s;
        QVERIFY(!rig.tick.Run());
    }

    // Two plain lines 5 pixels wide: 5 or 6 pixels of each per column at this slope.
    void crossIsFivePixelsWide()
    {
        Rig rig;
        QVERIFY(rig.Change());
        for (const int x : {40, 160}) {
            const int upper = Count(rig.canvas.Image(), IsRed, QRect(x, 0, 1, 50));
            const int lower = Count(rig.canvas.Image(), IsRed, QRect(x, 50, 1, 50));
            QVERIFY2(upper >= 5 && upper <= 6 && lower >= 5 && lower <= 6,
                     qPrintable(QString("%1 %2").arg(upper).arg(lower)));
        }
    }

    // The pick reaches the first and the last entry and entries of long lists beyond the 32767
    // a 16-bit index holds. Only the expected entry is a picture: any other pick shows the cross.
    void pickBounds_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("rnd");
        QTest::addColumn<int>("entry");
        const double belowOne = std::nextafter(1.0, 0.0);
        QTest::newRow("one entry, 0") << 1 << 0.0 << 1;
        QTest::newRow("one entry, just below 1") << 1 << belowOne << 1;
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
        QStringList list(count, m_dir.filePath("missing.bmp"));
        list[entry - 1] = m_green;
        PictureList = PathList::FromStringList(list);
        Rig rig;
        rig.random.next = rnd;
        QVERIFY(rig.Change());
        QCOMPARE(Count(rig.canvas.Image(), IsGreen), 200 * 100);
    }

    // Full screen: the own size (upright, as the camera stored it), centred on black, cut at the
    // edges, one picture pixel to one device pixel at any device-pixel ratio. Preview: reduced
    // by the smaller preview-to-screen ratio (the height's at a tie), centred, not fitted.
    // `drawn` is in the image's pixels; where the monitor shows the image reduced (a compositor's
    // fractional scale), the picture is drawn larger by as much.
    void placement_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("orientation"); // EXIF, 0 for none
        QTest::addColumn<QSize>("canvas");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QRect>("drawn");
        QTest::addColumn<qreal>("reduction");
        const QSize c(200, 100);
        auto full = [&](const char* name, const char* format, qreal ratio, QSize picture, QRect drawn,
                        qreal reduction = 1) {
            QTest::newRow(name) << format << int(ScreenSaver) << 0 << c << ratio << picture << drawn
                                << reduction;
        };
        full("bmp smaller", "bmp", 1, {100, 50}, {50, 25, 100, 50});
        full("bmp odd free space", "bmp", 1, {101, 51}, {50, 25, 101, 51});
        full("bmp one pixel", "bmp", 1, {1, 1}, {100, 50, 1, 1});
        full("bmp larger, cropped", "bmp", 1, {400, 300}, {-100, -100, 400, 300});
        full("bmp ratio 2", "bmp", 2, {100, 50}, {150, 75, 100, 50});
        full("bmp ratio 1.5", "bmp", 1.5, {100, 50}, {100, 50, 100, 50});
        full("bmp scale 1.5 drawn at 2", "bmp", 2, {100, 50}, {133, 67, 133, 67}, 0.75);
        full("jpg scale 1.25 drawn at 2", "jpg", 2, {100, 50}, {120, 60, 160, 80}, 0.625);
        full("gif smaller", "gif", 1, {100, 50}, {50, 25, 100, 50});
        full("jpg larger, clipped decode", "jpg", 1, {400, 300}, {-100, -100, 400, 300});
        full("jpg one component, larger", "grey.jpg", 1, {400, 300}, {-100, -100, 400, 300});
        full("jpg larger, ratio 2", "jpg", 2, {1000, 500}, {-300, -150, 1000, 500});
        // Halves of a pixel round up, on either side of zero: -1.5 gives -1.
        full("jpg off-centre crop", "jpg", 1, {203, 117}, {-1, -8, 203, 117});
        // The other kinds. "+alpha": partly transparent, shown over black; "+deep": 16 bits a
        // sample (10 for HEIF); ":suffix": saved under another kind's name, read by its content.
        full("png smaller", "png", 1, {100, 50}, {50, 25, 100, 50});
        full("png with alpha", "png+alpha", 1, {100, 50}, {50, 25, 100, 50});
        full("png 16 bits", "png+deep", 1, {100, 50}, {50, 25, 100, 50});
        full("webp with alpha", "webp+alpha", 1, {100, 50}, {50, 25, 100, 50});
        full("animated webp: first frame", "webp+animated", 1, {100, 50}, {50, 25, 100, 50});
        full("tiff with alpha", "tiff+alpha", 1, {100, 50}, {50, 25, 100, 50});
        full("heic larger, cropped", "heic", 1, {400, 300}, {-100, -100, 400, 300});
        full("heic with alpha", "heic+alpha", 1, {100, 50}, {50, 25, 100, 50});
        full("heic 10 bits", "heic+deep", 1, {100, 50}, {50, 25, 100, 50});
        full("heic, EXIF orientation 6 not applied", "heic+exif6", 1, {100, 50}, {50, 25, 100, 50});
        full("avif larger, ratio 2", "avif", 2, {1000, 500}, {-300, -150, 1000, 500});
        // "+tiled": a grid of 64 x 64 tiles (512 x 512 for a phone's photo), as phones write.
        full("heic tiled, cropped", "heic+tiled", 1, {400, 300}, {-100, -100, 400, 300});
        full("heic tiled 24 MP, centre", "heic+tiled", 1, {5712, 4284}, {-2756, -2092, 5712, 4284});
        full("heic tiled 48 MP, centre", "heic+tiled", 1, {8064, 6048}, {-3932, -2974, 8064, 6048});
        full("avif tiled, cropped", "avif+tiled", 1, {400, 300}, {-100, -100, 400, 300});
        full("avif with alpha", "avif+alpha", 1, {100, 50}, {50, 25, 100, 50});
        full("png named .jpg", "png:jpg", 1, {100, 50}, {50, 25, 100, 50});
        full("bmp named .jpg", "bmp:jpg", 1, {100, 50}, {50, 25, 100, 50});
        full("jpg named .bmp", "jpg:bmp", 1, {400, 300}, {-100, -100, 400, 300});
        full("jpg named .gif", "jpg:gif", 1, {100, 50}, {50, 25, 100, 50});
        full("heic named .jpg", "heic:jpg", 1, {100, 50}, {50, 25, 100, 50});

        auto preview = [&](const char* name, const char* format, QSize canvas, qreal ratio, QSize picture,
                           QRect drawn) {
            QTest::newRow(name) << format << int(Preview) << 0 << canvas << ratio << picture << drawn << 1.0;
        };
        preview("preview a tenth both ways (tie)", "bmp", c, 1, {400, 200}, {80, 40, 40, 20});
        preview("wider preview: height ratio", "bmp", {300, 100}, 1, {400, 200}, {130, 40, 40, 20});
        preview("taller preview: width ratio", "bmp", {200, 150}, 1, {400, 200}, {80, 65, 40, 20});
        preview("preview ratio 2", "bmp", c, 2, {400, 200}, {180, 90, 40, 20});
        preview("preview gif", "gif", c, 1, {400, 200}, {80, 40, 40, 20});
        preview("jpg scaled in the decoder", "jpg", c, 1, {800, 400}, {60, 30, 80, 40});
        preview("jpg larger than the screen overflows", "jpg", c, 1, {4000, 2000}, {-100, -50, 400, 200});
        preview("bmp larger than the screen overflows", "bmp", c, 1, {4000, 2000}, {-100, -50, 400, 200});
        preview("heic reduced", "heic", c, 1, {800, 400}, {60, 30, 80, 40});
        preview("heic larger than the screen overflows", "heic", c, 1, {4000, 2000}, {-100, -50, 400, 200});
        preview("webp with alpha reduced", "webp+alpha", c, 1, {800, 400}, {60, 30, 80, 40});
        // Only the part that shows is scaled, not the whole picture enlarged.
        for (const char* format : {"bmp", "jpg", "avif"})
            preview(qPrintable(QString("%1 in a preview larger than the screen").arg(format)), format,
                    {2400, 1200}, 1, {4000, 2000}, {-1200, -600, 4800, 2400});

        for (int o = 1; o <= 8; ++o) {
            const bool turned = o >= 5;
            // Odd sizes: one pixel more is cut on one side than on the other, so a cut-out
            // mirrored the wrong way shows.
            QTest::addRow("EXIF %d, full screen", o)
                << "jpg" << int(ScreenSaver) << o << c << 1.0 << QSize(321, 241)
                << (turned ? QRect(-20, -110, 241, 321) : QRect(-60, -70, 321, 241)) << 1.0;
            QTest::addRow("EXIF %d, preview", o)
                << "jpg" << int(Preview) << o << c << 1.0 << QSize(1600, 1200)
                << (turned ? QRect(40, -30, 120, 160) : QRect(20, -10, 160, 120)) << 1.0;
            // HEIF's own rotation and mirror, written as the same orientation.
            QTest::addRow("HEIF turned %d, full screen", o)
                << "heic" << int(ScreenSaver) << o << c << 1.0 << QSize(321, 241)
                << (turned ? QRect(-20, -110, 241, 321) : QRect(-60, -70, 321, 241)) << 1.0;
        }
        for (int o = 2; o <= 8; ++o)
            QTest::addRow("HEIF tiled, turned %d", o)
                << "heic+tiled" << int(ScreenSaver) << o << c << 1.0 << QSize(321, 241)
                << (o >= 5 ? QRect(-20, -110, 241, 321) : QRect(-60, -70, 321, 241)) << 1.0;
        // The turn listed before the size: the size shows turned, as libheif decodes it.
        QTest::newRow("HEIF turn before size") << "heic+single+turnsfirst" << int(ScreenSaver) << 6 << c
                                               << 1.0 << QSize(150, 80) << QRect(60, -25, 80, 150) << 1.0;
        QTest::newRow("HEIF tiled, turn before size")
            << "heic+tiled+turnsfirst" << int(ScreenSaver) << 6 << c << 1.0 << QSize(321, 241)
            << QRect(-20, -110, 241, 321) << 1.0;
        QTest::newRow("HEIF tiled, preview") << "heic+tiled" << int(Preview) << 6 << c << 1.0
                                             << QSize(1600, 1200) << QRect(40, -30, 120, 160) << 1.0;
        QTest::newRow("HEIF turned 6, preview") << "heic" << int(Preview) << 6 << c << 1.0
                                                << QSize(1600, 1200) << QRect(40, -30, 120, 160) << 1.0;
    }
    void placement()
    {
        QFETCH(QString, format);
        QFETCH(int, mode);
        QFETCH(int, orientation);
        QFETCH(QSize, canvas);
        QFETCH(qreal, ratio);
        QFETCH(QSize, picture);
        QFETCH(QRect, drawn);
        QFETCH(qreal, reduction);
        const QStringList parts = format.split(u':');
        const QStringList kind = parts[0].split(u'+');
        // A JPEG, HEIC or AVIF in shades of grey: their halved colour resolution cannot blur the
        // quadrants' edges, so a part decoded alone matches the picture decoded whole.
        const bool lossy = kind[0].endsWith("jpg") || kind[0] == "heic" || kind[0] == "avif";
        const bool heif = kind[0] == "heic" || kind[0] == "avif";
        QImage content = lossy ? vbtest::GreyQuadrants(picture) : vbtest::Quadrants(picture);
        if (kind.contains("alpha")) {
            content = content.convertToFormat(QImage::Format_ARGB32);
            for (int y = 0; y < picture.height(); ++y)
                for (int x = 0; x < picture.width(); ++x)
                    content.setPixel(x, y,
                                     (content.pixel(x, y) & 0xffffff) |
                                         (x < picture.width() / 2 ? 0x80u : 0xffu) << 24);
        }
        if (kind.contains("deep") && !heif)
            content = content.convertToFormat(QImage::Format_RGBX64);
        const QString path = m_dir.filePath(
            QString("%1.%2").arg(QTest::currentDataTag()).arg(parts.value(1, kind[0].right(3))));
        const QSize tile = picture.width() > 4000 ? QSize(512, 512) : QSize(64, 64);
        if (kind.contains("tiled") || kind.contains("single"))
            QVERIFY(vbtest::SaveTiledHeif(path, content,
                                          {kind.contains("single") ? picture : tile, std::max(orientation, 1),
                                           kind.contains("turnsfirst"), std::nullopt, kind.contains("single"),
                                           kind[0] == "avif"}));
        else if (heif)
            QVERIFY(vbtest::SaveHeif(
                path, content,
                {kind[0] == "avif", kind.contains("deep") ? 10 : 8, std::max(orientation, 1)}));
        else if (orientation > 0)
            QVERIFY(vbtest::WriteFile(path, vbtest::JpegWithOrientation(content, orientation)));
        else if (kind.contains("animated")) // a red second frame
            QVERIFY(vbtest::SavePicture(path + ".png", content, "png") &&
                    QProcess::execute("convert",
                                      {"-delay", "10", path + ".png", "-size",
                                       QString("%1x%2").arg(picture.width()).arg(picture.height()), "xc:red",
                                       "-define", "webp:lossless=true", "webp:" + path}) == 0);
        else
            QVERIFY(vbtest::SavePicture(path, content, kind[0].toLatin1()));
        if (kind.contains("exif6"))
            QCOMPARE(
                QProcess::execute("exiftool", {"-q", "-n", "-overwrite_original", "-Orientation=6", path}),
                0);
        // The reference as it shows: upright, over black.
        QImage upright(1, 1, QImage::Format_RGB32);
        {
            const QImage reference = vbtest::ReadReference(path);
            QVERIFY(!reference.isNull());
            upright = QImage(reference.size(), QImage::Format_RGB32);
            upright.fill(Qt::black);
            QPainter(&upright).drawImage(0, 0, reference);
        }

        RunMode = mode;
        ShowFileNames = mode == Preview ? -1 : 0;
        PictureList = {path};
        Rig rig(canvas, ratio, PictureHolder::DefaultDecodeLimitMegabytes, reduction);
        QVERIFY(rig.Change());
        PictureHolder picHidden;
        picHidden.Load(path);
        QCOMPARE(picHidden.PixelSize(), upright.size());
        const QImage& image = rig.canvas.Image();
        const int tolerance = kind[0].endsWith("jpg") ? 4 : heif || kind.contains("alpha") ? 2 : 0;

        if (drawn.size() == upright.size()) {
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const QPoint p(x, y);
                    const QRgb expected =
                        drawn.contains(p) ? upright.pixel(p - drawn.topLeft()) : qRgb(0, 0, 0);
                    QVERIFY2(vbtest::Near(image.pixel(p), expected, tolerance),
                             qPrintable(QString("(%1, %2): %3, not %4")
                                            .arg(x)
                                            .arg(y)
                                            .arg(image.pixel(p), 0, 16)
                                            .arg(expected, 0, 16)));
                }
            return;
        }
        // Scaled: exactly the drawn rectangle is lit, and around the centre each quadrant shows
        // where it belongs.
        const QRect visible = drawn.intersected(image.rect());
        QCOMPARE(Count(image, IsLit), visible.width() * visible.height());
        const qreal scale = qreal(drawn.width()) / upright.width();
        for (const QPointF f : {QPointF(3, 3), QPointF(5, 3), QPointF(3, 5), QPointF(5, 5)}) {
            const QPoint source(int(f.x() / 8 * upright.width()), int(f.y() / 8 * upright.height()));
            const QPoint shown = drawn.topLeft() + (QPointF(source) * scale).toPoint();
            QVERIFY2(vbtest::Near(image.pixel(shown), upright.pixel(source), 40),
                     qPrintable(QString("(%1, %2)").arg(shown.x()).arg(shown.y())));
        }
    }

    // Colours converted from the picture's profile to sRGB as lcms2's own transicc converts the
    // stored colours (within 2/255): an ICC profile embedded in a JPEG or PNG, or a HEIF colour
    // description. A PQ picture's tones: 50 nits, below the operator's knee, shows as SDR's 50
    // nits (sRGB 136 of 203 nits' white); the 1000-nit peak at white. HLG's mid-tone (signal 0.5:
    // a twelfth of the scene's light, 51 nits on a 1000-nit display) likewise at sRGB 137. An
    // opaque picture whose alpha is coded in limited range shows its colours in full over black.
    void colours_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("profile"); // in colord's folder; "P3": Display P3
        const QString colord = "/usr/share/color/icc/colord/";
        QTest::newRow("jpg Adobe RGB") << "jpg" << colord + "AdobeRGB1998.icc";
        QTest::newRow("jpg red and green swapped") << "jpg" << colord + "SwappedRedAndGreen.icc";
        QTest::newRow("jpg Display P3") << "jpg"
                                        << "P3";
        QTest::newRow("png Adobe RGB") << "png" << colord + "AdobeRGB1998.icc";
        QTest::newRow("heic described as Display P3") << "heic"
                                                      << "P3";
        QTest::newRow("heic PQ") << "heic"
                                 << "PQ";
        QTest::newRow("heic HLG") << "heic"
                                  << "HLG";
        QTest::newRow("heic opaque, alpha in limited range") << "heic"
                                                             << "limited alpha";
    }
    void colours()
    {
        QFETCH(QString, format);
        QFETCH(QString, profile);
        const QList<QRgb> patches{qRgb(200, 60, 40), qRgb(60, 160, 70), qRgb(40, 70, 190),
                                  qRgb(128, 128, 128)};
        QImage stored(64, 32, QImage::Format_RGB32);
        for (int x = 0; x < 64; ++x)
            for (int y = 0; y < 32; ++y)
                stored.setPixel(x, y, patches[x / 16]);
        const QString path = m_dir.filePath(QString("%1.%2").arg(QTest::currentDataTag()).arg(format));
        if (profile == "P3") {
            profile = m_dir.filePath("p3.icc");
            QVERIFY(vbtest::WriteFile(profile, ProfileOf(12, 13)));
        }
        QList<QRgb> expected;
        if (profile == "PQ" || profile == "HLG") {
            // Grey at the codes for 50 (HLG: 51) and 1000 nits, 10 bits.
            const bool pq = profile == "PQ";
            QImage deep(64, 32, QImage::Format_RGBX64);
            for (int x = 0; x < 64; ++x)
                for (int y = 0; y < 32; ++y) {
                    const quint16 level =
                        quint16((x < 32 ? (pq ? 450 : 512) : (pq ? 769 : 1023)) * 65535 / 1023);
                    deep.setPixelColor(x, y, QColor::fromRgba64(level, level, level));
                }
            QVERIFY(vbtest::SaveHeif(path, deep, {false, 10, 1, 9, pq ? 16 : 18}));
            const int mid = pq ? 136 : 137;
            expected = {qRgb(mid, mid, mid), qRgb(mid, mid, mid), qRgb(255, 255, 255), qRgb(255, 255, 255)};
        } else if (profile == "limited alpha") {
            QVERIFY(vbtest::SaveHeif(path, stored.convertToFormat(QImage::Format_ARGB32),
                                     {.limitedAlpha = true}));
            const QImage decoded = vbtest::ReadReference(path);
            for (int i = 0; i < 4; ++i) // the colours as decoded, whatever the alpha
                expected.append(decoded.pixel(i * 16 + 8, 16));
        } else {
            if (format == "heic")
                QVERIFY(vbtest::SaveHeif(path, stored, {false, 8, 1, 12, 13}));
            else // tagged with the profile, the pixels kept as they are
                QVERIFY(vbtest::SavePicture(path + ".png", stored, "png") &&
                        QProcess::execute(
                            "convert", {path + ".png", "-quality", "100", "-profile", profile, path}) == 0);
            const QImage raw = vbtest::ReadReference(path);
            QProcess transicc;
            transicc.start("transicc", {"-i", profile, "-t", "0", "-n"});
            for (int i = 0; i < 4; ++i) {
                const QRgb c = raw.pixel(i * 16 + 8, 16);
                transicc.write(QString("%1 %2 %3\n").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c)).toLatin1());
            }
            transicc.closeWriteChannel();
            QVERIFY(transicc.waitForFinished());
            for (const QByteArray& line : transicc.readAllStandardOutput().split('\n')) {
                const QList<QByteArray> v = line.simplified().split(' ');
                if (v.size() == 3)
                    expected.append(qRgb(std::clamp(qRound(v[0].toDouble()), 0, 255),
                                         std::clamp(qRound(v[1].toDouble()), 0, 255),
                                         std::clamp(qRound(v[2].toDouble()), 0, 255)));
            }
            QCOMPARE(expected.size(), 4);
        }

        RunMode = ScreenSaver;
        ShowFileNames = 0;
        PictureList = {path};
        Rig rig;
        QVERIFY(rig.Change());
        for (int i = 0; i < 4; ++i) {
            const QRgb shown = rig.canvas.Image().pixel(68 + i * 16 + 8, 34 + 16);
            QVERIFY2(
                vbtest::Near(shown, expected[i], 2),
                qPrintable(QString("patch %1: %2, not %3").arg(i).arg(shown, 0, 16).arg(expected[i], 0, 16)));
        }
    }

    // The caption from the top-left corner, only in full screen: with ShowDateTaken the date the
    // photo was taken (EXIF of a JPEG or a HEIF file) in the short date format, then with
    // ShowFileNames (any value but 0) the path of the picture shown, exactly as stored. `caption`
    // names the parts printed.
    void pathPrinted_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("showFileNames");
        QTest::addColumn<int>("showDateTaken");
        QTest::addColumn<QString>("picture");
        QTest::addColumn<bool>("outline");
        QTest::addColumn<QString>("caption");
        const int full = ScreenSaver;
        QTest::newRow("full screen, -1") << full << -1 << 0 << "bmp" << false << "path";
        QTest::newRow("full screen, 1") << full << 1 << 0 << "bmp" << false << "path";
        QTest::newRow("full screen, 0") << full << 0 << 0 << "bmp" << false << "";
        QTest::newRow("preview, -1") << int(Preview) << -1 << 0 << "bmp" << false << "";
        QTest::newRow("date and path") << full << -1 << -1 << "jpg dated" << false << "date path";
        QTest::newRow("date and path, outlined") << full << -1 << -1 << "jpg dated" << true << "date path";
        QTest::newRow("date alone") << full << 0 << -1 << "jpg dated" << false << "date";
        QTest::newRow("HEIF date and path") << full << -1 << -1 << "heic dated" << false << "date path";
        QTest::newRow("date off") << full << -1 << 0 << "jpg dated" << false << "path";
        QTest::newRow("no date: path alone") << full << -1 << -1 << "jpg" << false << "path";
        QTest::newRow("no date, no path") << full << 0 << -1 << "jpg" << false << "";
        QTest::newRow("preview, date") << int(Preview) << -1 << -1 << "jpg dated" << false << "";
    }
    void pathPrinted()
    {
        QFETCH(int, mode);
        QFETCH(int, showFileNames);
        QFETCH(int, showDateTaken);
        QFETCH(QString, picture);
        QFETCH(bool, outline);
        QFETCH(QString, caption);
        const QString format = picture.split(u' ').first();
        const QString shortPath = m_dir.filePath("s.bmp");
        const QString longPath = m_dir.filePath("a picture with a rather long name, 01." + format);
        QVERIFY(vbtest::SavePicture(shortPath, vbtest::Solid(QSize(10, 10), Qt::green), "bmp"));
        QVERIFY(vbtest::SavePicture(longPath, vbtest::Solid(QSize(16, 16), Qt::green), qPrintable(format)));
        if (picture.endsWith("dated"))
            QVERIFY(vbtest::SetDateTaken(longPath, "2021:07:14 10:20:30"));
        RunMode = mode;
        ShowFileNames = qint16(showFileNames);
        ShowDateTaken = qint16(showDateTaken);
        OutlineFileNames = outline ? -1 : 0;
        PictureList = {shortPath, longPath};
        Rig rig(QSize(1000, 100));
        rig.random.next = 0.75;
        QVERIFY(rig.Change());
        const QImage& image = rig.canvas.Image();
        QVERIFY(Count(image, IsGreen) > 0);
        QCOMPARE(Count(image, IsTextWhite) > 0, !caption.isEmpty());
        QCOMPARE(Count(image, IsTextWhite, QRect(0, 30, 1000, 70)), 0);
        if (caption.isEmpty())
            return;
        // The caption's width, starting at the left edge.
        int left = 1000, right = -1, top = 100;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 1000; ++x)
                if (IsTextWhite(image.pixel(x, y))) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                    top = std::min(top, y);
                }
        QVERIFY2(left <= 3 && top <= 8, qPrintable(QString("text starts at (%1, %2)").arg(left).arg(top)));
        const QString date = QLocale::system().toString(QDate(2021, 7, 14), QLocale::ShortFormat);
        const QString text = caption == "path" ? longPath : caption == "date" ? date : date + ' ' + longPath;
        const qreal width = QFontMetricsF(rig.canvas.Font(), &image).horizontalAdvance(text);
        QVERIFY2(std::abs(right - width) <= 4,
                 qPrintable(QString("text ends at %1, not %2 (\"%3\")").arg(right).arg(width).arg(text)));
    }

    // Whatever keeps a picture from showing gives a black window with the cross, no path, and
    // the next change at the next interval; but a file gone that the picture index listed leaves
    // the list, and the next entry shows in its place.
    void failureGivesBlackAndCross_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content"); // "<none>": no file, "<folder>": a folder
        QTest::addColumn<int>("decodeLimit");
        QTest::addColumn<int>("mode");
        const int limit = PictureHolder::DefaultDecodeLimitMegabytes;
        QByteArray jpeg, bmp;
        QBuffer jpegBuffer(&jpeg), bmpBuffer(&bmp);
        jpegBuffer.open(QIODevice::WriteOnly);
        bmpBuffer.open(QIODevice::WriteOnly);
        vbtest::Solid(QSize(64, 64), Qt::blue).save(&jpegBuffer, "jpg");
        vbtest::Solid(QSize(1000, 1000), Qt::blue).save(&bmpBuffer, "bmp");
        const QByteArray headerOnly = jpeg.left(jpeg.indexOf("\xff\xda"));
        // 400 x 400 needs more than 1 MB by its header.
        QVERIFY(vbtest::SaveHeif(m_dir.filePath("heic.heic"), vbtest::Solid(QSize(400, 400), Qt::blue)));
        const QByteArray heic = vbtest::ReadFile(m_dir.filePath("heic.heic"));
        for (const int mode : {int(ScreenSaver), int(Preview)}) {
            const char* m = mode == Preview ? "preview" : "full screen";
            QTest::addRow("%s: missing file", m) << "missing.jpg" << QByteArray("<none>") << limit << mode;
            QTest::addRow("%s: empty path", m) << "" << QByteArray("<none>") << limit << mode;
            QTest::addRow("%s: empty file", m) << "empty.jpg" << QByteArray() << limit << mode;
            QTest::addRow("%s: text named .bmp", m)
                << "text.bmp" << QByteArray("BM not really") << limit << mode;
            QTest::addRow("%s: JPEG without image data", m) << "header.jpg" << headerOnly << limit << mode;
            QTest::addRow("%s: folder", m) << "folder.gif" << QByteArray("<folder>") << limit << mode;
            QTest::addRow("%s: GIF decoding to 288 MB", m)
                << "huge.gif" << vbtest::GifWithCanvas(QSize(9000, 8000)) << limit << mode;
            QTest::addRow("%s: BMP beyond a 1 MB limit", m) << "big.bmp" << bmp << 1 << mode;
            QTest::addRow("%s: HEIC cut in half", m)
                << "cut.heic" << heic.left(heic.size() / 2) << limit << mode;
            QTest::addRow("%s: HEIC header alone", m) << "header.heic" << heic.left(40) << limit << mode;
            QTest::addRow("%s: HEIC beyond a 1 MB limit", m) << "big.heic" << heic << 1 << mode;
            QTest::addRow("%s: WebP cut short", m)
                << "cut.webp" << QByteArray("RIFF\x40\0\0\0WEBPVP8 ", 16) << limit << mode;
        }
        QTest::newRow("full screen: missing file the index listed")
            << "missing.jpg" << QByteArray("<indexed>") << limit << int(ScreenSaver);
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
        else if (!content.startsWith('<'))
            QVERIFY(vbtest::WriteFile(path, content));

        ShowFileNames = -1;
        PictureList = {m_green};
        Rig rig(QSize(200, 100), 1.0, decodeLimit);
        QVERIFY(rig.Change());
        // The change after a new list still shows the pick made ahead from the old one.
        PictureList = {path};
        const bool indexed = content == "<indexed>";
        if (indexed) {
            PictureList.Append(m_green);
            PictureList.SetFromIndex(true);
        }
        QVERIFY(rig.Change());
        QCOMPARE(Count(rig.canvas.Image(), IsGreen, QRect(0, 30, 200, 70)), 200 * 70);
        RunMode = mode;
        IntervalSeconds = 45;
        QVERIFY(rig.Change());
        QCOMPARE(NextPictureTime, rig.clock.now + 45s);
        if (indexed) {
            QCOMPARE(PictureList, PathList{m_green});
            QCOMPARE(Count(rig.canvas.Image(), IsGreen, QRect(0, 30, 200, 70)), 200 * 70);
            return;
        }
        QCOMPARE(Count(rig.canvas.Image(), IsGreen), 0);
        QCOMPARE(Count(rig.canvas.Image(), IsTextWhite), 0);
        VerifyCross(rig.canvas.Image(), IsBlack);
        // A holder's own limit leaves Qt's, which every loader thread reads, as start-up set it.
        QCOMPARE(QImageReader::allocationLimit(), PictureHolder::DefaultDecodeLimitMegabytes);
    }

    // Only what shows is decoded: a JPEG that needs 16 MB whole shows under a 1 MB limit, cut
    // out in full screen, scaled in the decoder in a preview.
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
        QCOMPARE(Count(rig.canvas.Image(), IsGreen), 200 * 100);
    }

    // With a loader, the picture on screen stays until the new one has arrived, which then shows
    // whole at once; the next change's picture is made ready ahead and shows at its due tick; one
    // that arrives after the next due time is not shown; one that cannot be loaded gives the cross
    // on black.
    void loadedAhead()
    {
        vbtest::FakeClock clock;
        vbtest::FakeRandom random;
        ImageCanvas canvas;
        canvas.Resize(QSize(200, 100), 1.0);
        FakeLoader loader;
        int redraws = 0;
        SlideTick tick(
            clock, random, canvas, loader, [] { return QSizeF(2000 * 15.0, 1000 * 15.0); },
            [&] { ++redraws; }, PictureHolder::DefaultDecodeLimitMegabytes);
        PictureList = {m_green};
        const auto change = [&] {
            clock.now += 1h;
            return tick.Run();
        };
        const auto key = [&] {
            return canvas.Image().cacheKey();
        };

        QVERIFY(change());
        QCOMPARE(loader.requests.size(), size_t(2)); // this change's picture and the next one's
        QVERIFY(IsBlack(canvas.Image().pixel(100, 50)));
        loader.Answer(0);
        QCOMPARE(redraws, 1);
        QCOMPARE(Count(canvas.Image(), IsGreen), 200 * 100);
        loader.Answer(1);
        QVERIFY(tick.NextReady());
        QCOMPARE(redraws, 1);

        qint64 shown = key();
        QVERIFY(change());
        QVERIFY(key() != shown);
        QCOMPARE(Count(canvas.Image(), IsGreen), 200 * 100);
        QCOMPARE(loader.requests.size(), size_t(3));

        // Not ready at its due time: the old picture stays, not even cleared.
        shown = key();
        QVERIFY(change());
        QCOMPARE(key(), shown);
        // Still not there at the next: dropped, and its late arrival shows nothing.
        QVERIFY(change());
        loader.Answer(2);
        QCOMPARE(key(), shown);
        QCOMPARE(redraws, 1);

        loader.receiver(Frame{loader.requests.at(3).id, QImage()});
        QCOMPARE(redraws, 2);
        VerifyCross(canvas.Image(), IsBlack);
    }
};

QTEST_MAIN(tst_SlideTick)
#include "tst_slidetick.moc"
