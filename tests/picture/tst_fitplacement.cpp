#include "Fakes.h"
#include "InlineLoader.h"
#include "PictureFiles.h"
#include "TestSupport.h"
#include "cover/SlideTick.h"
#include "picture/FitPlacement.h"
#include "picture/ImageCanvas.h"
#include "picture/PictureHolder.h"
#include "state/ModuleState.h"

#include <QTemporaryDir>
#include <QTest>

using namespace vb;
using namespace std::chrono_literals;

// FitLargePictures: the arithmetic, and pictures drawn fitted by the slide tick.
class tst_FitPlacement : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void init() { ResetModuleState(); }

    void shrinkToFit_data()
    {
        QTest::addColumn<QSizeF>("picture");
        QTest::addColumn<QSizeF>("room");
        QTest::addColumn<bool>("shrinks");
        QTest::addColumn<QSizeF>("shown");
        const QSizeF screen(1920, 1080);
        QTest::newRow("landscape") << QSizeF(6000, 4000) << screen << true << QSizeF(1620, 1080);
        QTest::newRow("portrait") << QSizeF(4000, 6000) << screen << true << QSizeF(720, 1080);
        QTest::newRow("same shape, twice the size") << QSizeF(3840, 2160) << screen << true << screen;
        QTest::newRow("exactly the room") << screen << screen << false << screen;
        QTest::newRow("smaller") << QSizeF(800, 600) << screen << false << QSizeF(800, 600);
        QTest::newRow("only wider") << QSizeF(2400, 600) << screen << true << QSizeF(1920, 480);
        QTest::newRow("only taller") << QSizeF(1000, 2160) << screen << true << QSizeF(500, 1080);
        QTest::newRow("one pixel wider") << QSizeF(1921, 1080) << screen << true << QSizeF(1920, 1079.4378);
        QTest::newRow("in twips, HiDPI 1.25")
            << QSizeF(6000 * 12.0, 4000 * 12.0) << QSizeF(1536 * 15.0, 864 * 15.0) << true
            << QSizeF(19440, 12960);
        QTest::newRow("empty picture") << QSizeF(0, 0) << screen << false << QSizeF(0, 0);
        QTest::newRow("empty room") << QSizeF(6000, 4000) << QSizeF(0, 0) << false << QSizeF(6000, 4000);
    }
    void shrinkToFit()
    {
        QFETCH(QSizeF, picture);
        QFETCH(QSizeF, room);
        QFETCH(bool, shrinks);
        QFETCH(QSizeF, shown);
        float width = float(picture.width()), height = float(picture.height());
        QCOMPARE(ShrinkToFit(width, height, float(room.width()), float(room.height())), shrinks);
        QCOMPARE(width, float(shown.width()));
        QCOMPARE(height, float(shown.height()));
    }

    // Through the slide tick on a 200 x 100 window of a 2000 x 1000 screen: fitted whole, centred,
    // upright, each quadrant where it belongs, black around it. `drawn` is in device pixels.
    void fittedByTheTick_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("orientation"); // EXIF, 0 for none
        QTest::addColumn<int>("mode");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<QSize>("picture"); // as stored
        QTest::addColumn<QRect>("drawn");
        const int full = ScreenSaver;
        QTest::newRow("jpg landscape")
            << "jpg" << 0 << full << 1.0 << QSize(600, 400) << QRect(25, 0, 150, 100);
        QTest::newRow("jpg portrait")
            << "jpg" << 0 << full << 1.0 << QSize(300, 600) << QRect(75, 0, 50, 100);
        QTest::newRow("jpg one side larger")
            << "jpg" << 0 << full << 1.0 << QSize(400, 100) << QRect(0, 25, 200, 50);
        QTest::newRow("jpg exactly the window")
            << "jpg" << 0 << full << 1.0 << QSize(200, 100) << QRect(0, 0, 200, 100);
        QTest::newRow("jpg smaller, own size")
            << "jpg" << 0 << full << 1.0 << QSize(100, 60) << QRect(50, 20, 100, 60);
        QTest::newRow("bmp landscape")
            << "bmp" << 0 << full << 1.0 << QSize(600, 400) << QRect(25, 0, 150, 100);
        QTest::newRow("heic landscape")
            << "heic" << 0 << full << 1.0 << QSize(600, 400) << QRect(25, 0, 150, 100);
        QTest::newRow("heic turned 6 by the file")
            << "heic" << 6 << full << 1.0 << QSize(600, 400) << QRect(67, 0, 67, 100);
        // A grid of tiles, as phones write their photos: 512 x 512 tiles, 64 x 64 for the small.
        QTest::newRow("heic tiled 24 MP")
            << "heic+tiled" << 0 << full << 1.0 << QSize(5712, 4284) << QRect(33, 0, 133, 100);
        QTest::newRow("heic tiled, turned 6 by the file")
            << "heic+tiled" << 6 << full << 1.0 << QSize(600, 400) << QRect(67, 0, 67, 100);
        QTest::newRow("heic tiled 48 MP, preview")
            << "heic+tiled" << 0 << int(Preview) << 1.0 << QSize(8064, 6048) << QRect(33, 0, 133, 100);
        QTest::newRow("avif smaller, own size")
            << "avif" << 0 << full << 1.0 << QSize(100, 60) << QRect(50, 20, 100, 60);
        QTest::newRow("webp landscape")
            << "webp" << 0 << full << 1.0 << QSize(600, 400) << QRect(25, 0, 150, 100);
        QTest::newRow("jpg, device-pixel ratio 2")
            << "jpg" << 0 << full << 2.0 << QSize(1200, 800) << QRect(50, 0, 300, 200);
        for (int o = 2; o <= 8; ++o)
            QTest::addRow("jpg EXIF %d", o) << "jpg" << o << full << 1.0 << QSize(600, 400)
                                            << (o >= 5 ? QRect(67, 0, 67, 100) : QRect(25, 0, 150, 100));
        // Fitted to the screen, then reduced by the preview's tenth.
        QTest::newRow("preview, larger than the screen")
            << "jpg" << 0 << int(Preview) << 1.0 << QSize(4000, 3000) << QRect(33, 0, 133, 100);
        QTest::newRow("preview, fits the screen")
            << "jpg" << 0 << int(Preview) << 1.0 << QSize(1000, 600) << QRect(50, 20, 100, 60);
        QTest::newRow("heic preview, larger than the screen")
            << "heic" << 0 << int(Preview) << 1.0 << QSize(4000, 3000) << QRect(33, 0, 133, 100);
    }
    void fittedByTheTick()
    {
        QFETCH(QString, format);
        QFETCH(int, orientation);
        QFETCH(int, mode);
        QFETCH(qreal, ratio);
        QFETCH(QSize, picture);
        QFETCH(QRect, drawn);
        const bool tiled = format.endsWith("+tiled");
        format.remove("+tiled");
        const bool heif = format == "heic" || format == "avif";
        const QImage content =
            format == "jpg" || heif ? vbtest::GreyQuadrants(picture) : vbtest::Quadrants(picture);
        const QString path = m_dir.filePath(QString("%1.%2").arg(QTest::currentDataTag()).arg(format));
        if (tiled)
            QVERIFY(vbtest::SaveTiledHeif(path, content,
                                          {picture.width() > 4000 ? QSize(512, 512) : QSize(64, 64),
                                           std::max(orientation, 1), false, std::nullopt, false}));
        else if (heif)
            QVERIFY(vbtest::SaveHeif(path, content, {format == "avif", 8, std::max(orientation, 1)}));
        else if (orientation > 0)
            QVERIFY(vbtest::WriteFile(path, vbtest::JpegWithOrientation(content, orientation)));
        else
            QVERIFY(vbtest::SavePicture(path, content, format.toLatin1()));
        const QImage upright = vbtest::ReadReference(path);

        RunMode = mode;
        FitLargePictures = -1;
        PictureList = {path};
        vbtest::FakeClock clock;
        vbtest::FakeRandom random;
        ImageCanvas canvas;
        InlineLoader loader;
        SlideTick tick(
            clock, random, canvas, loader, [] { return QSizeF(2000 * 15.0, 1000 * 15.0); }, {},
            PictureHolder::DefaultDecodeLimitMegabytes);
        canvas.Resize(QSize(200, 100), ratio);
        clock.now += 1h;
        QVERIFY(tick.Run());

        const QImage& image = canvas.Image();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const bool lit = qGray(image.pixel(x, y)) > 30;
                QVERIFY2(lit == drawn.contains(x, y), qPrintable(QString("(%1, %2)").arg(x).arg(y)));
            }
        for (const QPointF f : {QPointF(1, 1), QPointF(3, 1), QPointF(1, 3), QPointF(3, 3)}) {
            const QPoint source(int(f.x() / 4 * upright.width()), int(f.y() / 4 * upright.height()));
            const QPoint shown(drawn.x() + int(f.x() / 4 * drawn.width()),
                               drawn.y() + int(f.y() / 4 * drawn.height()));
            QVERIFY2(vbtest::Near(image.pixel(shown), upright.pixel(source), 12),
                     qPrintable(QString("(%1, %2)").arg(shown.x()).arg(shown.y())));
        }
    }
};

QTEST_MAIN(tst_FitPlacement)
#include "tst_fitplacement.moc"
