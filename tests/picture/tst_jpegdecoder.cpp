#include "PictureFiles.h"
#include "TestSupport.h"
#include "picture/JpegDecoder.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace vb;

namespace {

// A picture with detail everywhere, so that a part taken from the wrong place cannot match.
QImage Detailed(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb((x * 7) & 255, (y * 5) & 255, ((x + y) * 3) & 255));
    return image;
}

// The largest difference on any channel between two images of the same size.
int Difference(const QImage& a, const QImage& b)
{
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

constexpr qint64 Limit = 256LL * 1024 * 1024;

} // namespace

class tst_JpegDecoder : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    // A part decoded alone is the same part of the whole picture as Qt decodes it, written into
    // a larger image without touching its neighbours.
    void regionMatchesWholeDecode_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QRect>("region");
        const QSize size(437, 301);
        for (const char* format : {"jpg", "grey.jpg"}) {
            QTest::addRow("%s: whole", format) << format << QRect(QPoint(0, 0), size);
            QTest::addRow("%s: centre, odd offsets", format) << format << QRect(101, 57, 203, 117);
            QTest::addRow("%s: full width band", format) << format << QRect(0, 150, 437, 20);
            QTest::addRow("%s: last row and column", format) << format << QRect(436, 300, 1, 1);
            QTest::addRow("%s: first pixel", format) << format << QRect(0, 0, 1, 1);
            QTest::addRow("%s: right edge", format) << format << QRect(400, 3, 37, 290);
        }
    }
    void regionMatchesWholeDecode()
    {
        QFETCH(QString, format);
        QFETCH(QRect, region);
        const QString path = m_dir.filePath("detail." + format);
        QVERIFY(vbtest::SavePicture(path, Detailed(QSize(437, 301)), format.toLatin1().constData(), 90));
        const QImage whole = QImage(path).convertToFormat(QImage::Format_RGB32);

        QImage canvas(region.width() + 4, region.height() + 4, QImage::Format_RGB32);
        canvas.fill(Qt::magenta);
        QImage into(canvas.bits() + 2 * canvas.bytesPerLine() + 2 * 4, region.width(), region.height(),
                    canvas.bytesPerLine(), QImage::Format_RGB32);
        QString error;
        QCOMPARE(JpegDecoder::DecodeRegion(path, region, into, Limit, &error), JpegDecoder::Result::Done);
        QVERIFY2(Difference(canvas.copy(2, 2, region.width(), region.height()), whole.copy(region)) <= 2,
                 qPrintable(QString::number(Difference(into, whole.copy(region)))));
        // The frame around the part is untouched and every pixel is opaque.
        QCOMPARE(canvas.pixel(0, 0), QColor(Qt::magenta).rgb());
        QCOMPARE(canvas.pixel(canvas.width() - 1, canvas.height() - 1), QColor(Qt::magenta).rgb());
        QCOMPARE(canvas.pixel(1, 2), QColor(Qt::magenta).rgb());
        QCOMPARE(canvas.pixel(region.width() + 2, region.height() + 1), QColor(Qt::magenta).rgb());
        QCOMPARE(qAlpha(canvas.pixel(2, 2)), 255);
    }

    // The whole picture reduced: close to Qt's smooth scaling of the whole decoded picture, from
    // no reduction through the decoder's steps to a single pixel, written into a larger image
    // without touching its neighbours. Larger than the picture is left to another decoder.
    void reducedMatchesSmoothScale_data()
    {
        QTest::addColumn<QSize>("target");
        QTest::addColumn<int>("result");
        const int done = int(JpegDecoder::Result::Done);
        QTest::newRow("own size") << QSize(437, 301) << done;
        QTest::newRow("exactly the half step") << QSize(219, 151) << done;
        QTest::newRow("between own size and half") << QSize(300, 250) << done;
        QTest::newRow("between steps, one side limits") << QSize(100, 30) << done;
        QTest::newRow("below the eighth step") << QSize(40, 20) << done;
        QTest::newRow("one pixel") << QSize(1, 1) << done;
        QTest::newRow("wider than the picture") << QSize(438, 10) << int(JpegDecoder::Result::NotHandled);
    }
    void reducedMatchesSmoothScale()
    {
        QFETCH(QSize, target);
        QFETCH(int, result);
        const QSize size(437, 301);
        QImage smooth(size, QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                smooth.setPixel(x, y,
                                qRgb(x * 255 / size.width(), y * 255 / size.height(), 200 - x * y / 800));
        const QString path = m_dir.filePath("smooth.jpg");
        QVERIFY(vbtest::SavePicture(path, smooth, "jpg", 95));
        const QImage expected = QImage(path)
                                    .convertToFormat(QImage::Format_RGB32)
                                    .scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

        QImage canvas(target + QSize(4, 4), QImage::Format_RGB32);
        canvas.fill(Qt::magenta);
        QImage into(canvas.bits() + 2 * canvas.bytesPerLine() + 2 * 4, target.width(), target.height(),
                    canvas.bytesPerLine(), QImage::Format_RGB32);
        QString error;
        QCOMPARE(int(JpegDecoder::DecodeReduced(path, into, Limit, &error)), result);
        if (result != int(JpegDecoder::Result::Done))
            return;
        const int difference = Difference(canvas.copy(2, 2, target.width(), target.height()), expected);
        QVERIFY2(difference <= 6, qPrintable(QString::number(difference)));
        for (const QPoint p : {QPoint(0, 0), QPoint(1, 2), QPoint(target.width() + 2, target.height() + 1),
                               QPoint(target.width() + 3, target.height() + 3)})
            QCOMPARE(canvas.pixel(p), QColor(Qt::magenta).rgb());
        QCOMPARE(qAlpha(canvas.pixel(2, 2)), 255);
    }

    // Files this path cannot take: refused without a crash, most of them as failures.
    void refusals_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QRect>("region");
        QTest::addColumn<int>("result");
        QByteArray jpeg;
        {
            QBuffer buffer(&jpeg);
            buffer.open(QIODevice::WriteOnly);
            Detailed(QSize(64, 48)).save(&buffer, "jpg", 90);
        }
        const QRect all(0, 0, 64, 48);
        const int failed = int(JpegDecoder::Result::Failed);
        QTest::newRow("empty file") << QByteArray() << all << failed;
        QTest::newRow("not a jpeg") << QByteArray("GIF89a not at all") << all << failed;
        QTest::newRow("header only") << jpeg.left(jpeg.indexOf("\xff\xda")) << all << failed;
        QTest::newRow("region outside") << jpeg << QRect(10, 10, 64, 48) << failed;
        QTest::newRow("empty region") << jpeg << QRect() << failed;
        // A file cut in the middle of its data still decodes: the missing rows come out grey.
        QTest::newRow("truncated data")
            << jpeg.left(jpeg.size() * 2 / 3) << all << int(JpegDecoder::Result::Done);
    }
    void refusals()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QRect, region);
        QFETCH(int, result);
        const QString path = m_dir.filePath("refused.jpg");
        QVERIFY(vbtest::WriteFile(path, bytes));
        QImage into(region.isEmpty() ? QSize(1, 1) : region.size(), QImage::Format_RGB32);
        QString error;
        QCOMPARE(int(JpegDecoder::DecodeRegion(path, region, into, Limit, &error)), result);
        if (result == int(JpegDecoder::Result::Failed))
            QVERIFY(!error.isEmpty());
        QCOMPARE(int(JpegDecoder::DecodeRegion(m_dir.filePath("missing.jpg"), QRect(0, 0, 1, 1), into, Limit,
                                               &error)),
                 int(JpegDecoder::Result::Failed));
    }

    // A progressive JPEG keeps the whole picture's coefficients while it decodes; past the
    // memory limit that is a failure, not an allocation.
    void progressiveRespectsTheLimit()
    {
        const QString plain = m_dir.filePath("plain.jpg");
        const QString progressive = m_dir.filePath("progressive.jpg");
        QVERIFY(vbtest::SavePicture(plain, Detailed(QSize(1200, 900)), "jpg", 90));
        QCOMPARE(QProcess::execute("convert", {plain, "-interlace", "JPEG", progressive}), 0);
        QImage into(100, 100, QImage::Format_RGB32);
        QString error;
        QCOMPARE(JpegDecoder::DecodeRegion(progressive, QRect(500, 400, 100, 100), into, Limit, &error),
                 JpegDecoder::Result::Done);
        QCOMPARE(JpegDecoder::DecodeRegion(progressive, QRect(500, 400, 100, 100), into, 1024 * 1024, &error),
                 JpegDecoder::Result::Failed);
        QVERIFY(!error.isEmpty());
    }

    // CMYK is left to Qt's reader.
    void cmykIsNotHandled()
    {
        const QString rgb = m_dir.filePath("rgb.jpg");
        const QString cmyk = m_dir.filePath("cmyk.jpg");
        QVERIFY(vbtest::SavePicture(rgb, Detailed(QSize(32, 32)), "jpg", 90));
        QCOMPARE(QProcess::execute("convert", {rgb, "-colorspace", "CMYK", cmyk}), 0);
        QImage into(32, 32, QImage::Format_RGB32);
        QString error;
        QCOMPARE(JpegDecoder::DecodeRegion(cmyk, QRect(0, 0, 32, 32), into, Limit, &error),
                 JpegDecoder::Result::NotHandled);
    }
};

QTEST_GUILESS_MAIN(tst_JpegDecoder)
#include "tst_jpegdecoder.moc"
