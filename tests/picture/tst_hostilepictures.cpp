#include "Fakes.h"
#include "InlineLoader.h"
#include "PictureFiles.h"
#include "TestSupport.h"
#include "cover/SlideTick.h"
#include "picture/ImageCanvas.h"
#include "picture/PictureHolder.h"
#include "state/ModuleState.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QLoggingCategory>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <optional>
#include <sys/stat.h>

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer's allocator; GCC ships no header for it.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif

// Pictures nobody checked: cut short, random, flipped, declaring sizes no screen saver can afford,
// and things that are no picture at all, each through the real slide tick in full screen and in a
// preview. Each must end in the picture (grey or black where data is missing) or the failure
// cross, and no picture may take more memory than the decode limit plus the screen's image.
using namespace vb;
using namespace std::chrono_literals;

namespace {

const QSize Screen(1920, 1080);
const QSize PreviewWindow(192, 108);
constexpr qint64 Kilobyte = 1024;
constexpr qint64 LimitBytes = qint64(PictureHolder::DefaultDecodeLimitMegabytes) << 20;

// Black: the picture shows, every pixel of it black (what its file leaves undefined is black).
enum class Expect { Either, Cross, Black };

struct Hostile
{
    QString path;
    Expect expect;
};

// --- Picture bytes ---------------------------------------------------------------------------

QByteArray Encoded(const QImage& image, const char* format, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    return writer.write(image) ? bytes : QByteArray();
}

// A sequential JPEG whose three components come in three scans, as cjpeg writes it from a scan
// script.
QByteArray MultiScanJpeg(const QImage& image)
{
    QTemporaryDir dir;
    if (!image.save(dir.filePath("in.ppm")) || !vbtest::WriteFile(dir.filePath("scans"), "0;\n1;\n2;\n"))
        return QByteArray();
    QProcess cjpeg;
    cjpeg.start("cjpeg", {"-scans", dir.filePath("scans"), dir.filePath("in.ppm")});
    return cjpeg.waitForFinished() && cjpeg.exitCode() == 0 ? cjpeg.readAllStandardOutput() : QByteArray();
}

// The same JPEG declaring another size in its frame header.
QByteArray WithJpegSize(QByteArray jpeg, QSize size)
{
    for (qsizetype i = 2; i + 9 < jpeg.size();) {
        const uchar marker = uchar(jpeg[i + 1]);
        if (marker >= 0xc0 && marker <= 0xc2) {
            qToBigEndian(quint16(size.height()), jpeg.data() + i + 5);
            qToBigEndian(quint16(size.width()), jpeg.data() + i + 7);
            return jpeg;
        }
        i += 2 + qFromBigEndian<quint16>(jpeg.constData() + i + 2);
    }
    return QByteArray();
}

// A BMP with a 40-byte header; `size` may hold a zero or negative height; a palette of grey
// for 8 bits or fewer, of `colours` entries or all; compression 1 is RLE8.
QByteArray Bmp(QSize size, int bits, int compression, const QByteArray& pixels, int colours = 0)
{
    colours = bits > 8 ? 0 : colours > 0 ? colours : 1 << bits;
    QByteArray header(54, '\0');
    char* h = header.data();
    h[0] = 'B';
    h[1] = 'M';
    const quint32 offset = 54 + 4 * colours;
    qToLittleEndian(quint32(offset + pixels.size()), h + 2);
    qToLittleEndian(offset, h + 10);
    qToLittleEndian(quint32(40), h + 14);
    qToLittleEndian(qint32(size.width()), h + 18);
    qToLittleEndian(qint32(size.height()), h + 22);
    qToLittleEndian(quint16(1), h + 26);
    qToLittleEndian(quint16(bits), h + 28);
    qToLittleEndian(quint32(compression), h + 30);
    qToLittleEndian(quint32(pixels.size()), h + 34);
    qToLittleEndian(quint32(colours), h + 46);
    QByteArray palette;
    for (int i = 0; i < colours; ++i)
        palette += QByteArray(3, char(i * 255 / std::max(1, colours - 1))) + '\0';
    return header + palette + pixels;
}

// A GIF with a logical screen of `screen` and a first frame of `frame`, of which only one pixel
// has data. Its colours are white and grey, so that it never looks like the red cross.
QByteArray Gif(QSize screen, QSize frame)
{
    QByteArray gif("GIF89a");
    auto little = [&gif](int value) {
        gif += char(value & 0xff);
        gif += char((value >> 8) & 0xff);
    };
    little(screen.width());
    little(screen.height());
    gif += QByteArray("\x80\x00\x00", 3);
    gif += QByteArray("\xff\xff\xff\x80\x80\x80", 6);
    gif += ',';
    little(0);
    little(0);
    little(frame.width());
    little(frame.height());
    gif += char(0);
    gif += QByteArray("\x02\x02\x44\x01\x00", 5);
    gif += ';';
    return gif;
}

// The same HEIF file declaring another size in its 'ispe' boxes (which say the coded size).
QByteArray WithIspe(QByteArray heif, QSize size)
{
    for (qsizetype at = heif.indexOf("ispe"); at >= 0; at = heif.indexOf("ispe", at + 1)) {
        if (at + 16 > heif.size())
            return QByteArray();
        qToBigEndian(quint32(size.width()), heif.data() + at + 8);
        qToBigEndian(quint32(size.height()), heif.data() + at + 12);
    }
    return heif;
}

QByteArray Heif(const QImage& image, bool avif)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("picture.heif");
    return vbtest::SaveHeif(path, image, {avif}) ? vbtest::ReadFile(path) : QByteArray();
}

// Smooth shades with fine detail, never red: the JPEG encoder has work to do, and no part of the
// picture can pass for the failure cross.
QImage Pattern(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(x * 160 / size.width(), 40 + y * 200 / size.height(), (x * y) & 0xff));
    return image;
}

QByteArray RandomBytes(QRandomGenerator& random, qsizetype size)
{
    QByteArray bytes(size, '\0');
    for (char& c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

// --- The hostile sets --------------------------------------------------------------------------

struct Maker
{
    QString dir;
    QList<Hostile> made;
    bool ok = true;

    void File(const QString& name, const QByteArray& bytes, Expect expect = Expect::Either)
    {
        const QString path = dir + '/' + name;
        ok = ok && vbtest::WriteFile(path, bytes);
        made.append({path, expect});
    }
    void Other(const QString& name, bool created)
    {
        ok = ok && created;
        made.append({dir + '/' + name, Expect::Cross});
    }

    // Every length up to 160 bytes (the headers), then 48 lengths spread over the rest.
    void Truncated(const QString& stem, const QString& suffix, const QByteArray& whole)
    {
        ok = ok && whole.size() > 200;
        QList<qsizetype> lengths;
        for (qsizetype n = 0; n <= 160; ++n)
            lengths.append(n);
        for (int k = 1; k < 48; ++k)
            lengths.append(160 + (whole.size() - 160) * k / 48);
        for (const qsizetype n : lengths)
            File(QString("%1-%2.%3").arg(stem).arg(n).arg(suffix), whole.left(n));
    }
    // Sizes up to 30000 x 30000; from 16384 x 16384 on, a kind that must be decoded or buffered
    // whole needs far more than the limit and must be refused.
    void Bombs(const QString& stem, const QString& suffix, const std::function<QByteArray(QSize)>& make,
               bool refusedWhenHuge)
    {
        for (const QSize size : {QSize(1000, 1000), QSize(8000, 8000), QSize(16384, 16384),
                                 QSize(30000, 30000), QSize(30000, 1), QSize(1, 30000)}) {
            const bool tooLarge = refusedWhenHuge && qint64(size.width()) * size.height() >= 16384LL * 16384;
            File(QString("%1-%2x%3.%4").arg(stem).arg(size.width()).arg(size.height()).arg(suffix),
                 make(size), tooLarge ? Expect::Cross : Expect::Either);
        }
    }
};

QList<Hostile> MakeSet(const QString& kind, const QString& dir, bool* ok)
{
    Maker m{dir, {}, QDir().mkpath(dir)};
    QRandomGenerator random(20240611);
    const QImage photo = Pattern(QSize(96, 64));
    const QByteArray jpeg = Encoded(photo, "jpg");
    const QByteArray progressive = Encoded(photo, "jpg", true);
    const QByteArray multiScan = MultiScanJpeg(photo);
    const QByteArray bmp = Encoded(photo, "bmp");
    const QByteArray bmp8 = Encoded(photo.convertToFormat(QImage::Format_Indexed8), "bmp");
    m.ok = m.ok && !jpeg.isEmpty() && !progressive.isEmpty() && !multiScan.isEmpty() && !bmp.isEmpty();
    const QByteArray heic = Heif(photo, false);
    const QByteArray avif = Heif(photo, true);
    QByteArray tiled, overlay, overlayOutside;
    {
        // Three by two tiles, the last column cut by the picture's edge.
        QTemporaryDir tiles;
        const QString path = tiles.filePath("tiled.heic");
        const QImage large = Pattern(QSize(160, 128));
        m.ok = m.ok && vbtest::SaveTiledHeif(path, large, {QSize(64, 64), 6, true, std::nullopt, false});
        tiled = vbtest::ReadFile(path);
        m.ok = m.ok && vbtest::SaveTiledHeif(path, large, {QSize(64, 64), 1, false, QPoint(0, 0), false});
        overlay = vbtest::ReadFile(path);
        m.ok = m.ok && vbtest::SaveTiledHeif(path, large, {QSize(64, 64), 1, false, QPoint(40, -8), false});
        overlayOutside = vbtest::ReadFile(path);
    }
    m.ok = m.ok && !heic.isEmpty() && !avif.isEmpty() && !tiled.isEmpty();
    QByteArray gif;
    {
        QTemporaryDir gifDir;
        m.ok = m.ok && vbtest::SavePicture(gifDir.filePath("q.gif"), photo, "gif");
        gif = vbtest::ReadFile(gifDir.filePath("q.gif"));
    }

    if (kind == "truncated") {
        m.Truncated("bmp24", "bmp", bmp);
        m.Truncated("bmp8", "bmp", bmp8);
        m.Truncated("baseline", "jpg", jpeg);
        m.Truncated("progressive", "jpeg", progressive);
        m.Truncated("multiscan", "jpg", multiScan);
        m.Truncated("gif", "gif", gif);
        m.Truncated("heic", "heic", heic);
        m.Truncated("avif", "avif", avif);
        m.Truncated("tiled", "heic", tiled);
    } else if (kind == "random") {
        const char* suffixes[] = {"bmp", "jpg", "jpeg", "gif", "heic"};
        const QByteArray magics[] = {QByteArray(), QByteArray("BM"), QByteArray("\xff\xd8\xff", 3),
                                     QByteArray("GIF89a"), heic.left(32)};
        for (int i = 0; i < 80; ++i) {
            const QByteArray& magic = magics[i % 5];
            m.File(QString("random-%1.%2").arg(i).arg(suffixes[(i / 5) % 5]),
                   magic + RandomBytes(random, 1 + random.bounded(4096)));
        }
    } else if (kind == "bit flips") {
        for (int i = 0; i < 360; ++i) {
            QByteArray flipped = i >= 320     ? tiled
                                 : i >= 240   ? (i % 2 ? avif : heic)
                                 : i % 3 == 2 ? progressive
                                              : jpeg;
            for (int k = 0; k <= i % 8; ++k) {
                const qsizetype at = random.bounded(flipped.size());
                flipped[at] = char(flipped[at] ^ (1 << random.bounded(8)));
            }
            m.File(QString("flipped-%1.%2").arg(i).arg(i >= 240 ? "heic" : "jpg"), flipped);
        }
    } else if (kind == "HEIF seeds") {
        // Each way a HEIF picture is made, for valgrind: tiled and turned, alpha, 10 bits, and
        // overlays (libheif 1.15 copies an overlay's pictures wherever its offsets say).
        m.File("tiled-turned.heic", tiled);
        m.File("overlay-inside.heic", overlay);
        m.File("overlay-outside.heic", overlayOutside, Expect::Cross);
        QImage alpha = photo.convertToFormat(QImage::Format_ARGB32);
        alpha.setPixel(0, 0, 0x20ffffff);
        QTemporaryDir seeds;
        for (const bool avif : {false, true}) {
            const QString suffix = avif ? "avif" : "heic";
            const QString path = seeds.filePath("seed." + suffix);
            m.ok = m.ok && vbtest::SaveHeif(path, alpha, {avif, 8, 6});
            m.File("alpha-turned." + suffix, vbtest::ReadFile(path));
            // (aom here asserts on 10-bit RGB input: the deep seed is HEIC's.)
            if (!avif) {
                m.ok = m.ok && vbtest::SaveHeif(path, photo, {avif, 10, 3});
                m.File("deep-turned." + suffix, vbtest::ReadFile(path));
            }
        }
    } else if (kind == "empty") {
        for (const char* suffix : {"bmp", "jpg", "jpeg", "gif"})
            m.File(QString("empty.%1").arg(suffix), QByteArray(), Expect::Cross);
    } else if (kind == "bombs") {
        m.Bombs(
            "baseline", "jpg", [&](QSize s) { return WithJpegSize(jpeg, s); }, false);
        m.Bombs(
            "progressive", "jpg", [&](QSize s) { return WithJpegSize(progressive, s); }, true);
        m.Bombs(
            "multiscan", "jpg", [&](QSize s) { return WithJpegSize(multiScan, s); }, true);
        m.Bombs(
            "gif-screen", "gif", [](QSize s) { return Gif(s, QSize(1, 1)); }, true);
        m.Bombs(
            "gif-frame", "gif", [](QSize s) { return Gif(s, s); }, true);
        m.Bombs(
            "bmp24", "bmp", [](QSize s) { return Bmp(s, 24, 0, QByteArray(64, '\0')); }, true);
        m.Bombs(
            "bmp-rle8", "bmp", [](QSize s) { return Bmp(s, 8, 1, QByteArray("\x00\x01", 2)); }, true);
        m.Bombs(
            "heic-ispe", "heic", [&](QSize s) { return WithIspe(heic, s); }, true);
        m.Bombs(
            "avif-ispe", "avif", [&](QSize s) { return WithIspe(avif, s); }, true);
    } else if (kind == "huge GIF screen") {
        m.File("screen-65535x65535.gif", Gif(QSize(65535, 65535), QSize(1, 1)), Expect::Cross);
        m.File("screen-65535x65535-frame-16.gif", Gif(QSize(65535, 65535), QSize(16, 16)), Expect::Cross);
        m.File("screen-65535x1.gif", Gif(QSize(65535, 1), QSize(1, 1)));
        m.File("screen-0x0.gif", Gif(QSize(0, 0), QSize(16, 16)));
    } else if (kind == "BMP heights") {
        const QByteArray rows(32 * 16, '\x40');
        m.File("top-down.bmp", Bmp(QSize(32, -16), 8, 0, rows));
        m.File("height-0.bmp", Bmp(QSize(32, 0), 8, 0, rows), Expect::Cross);
        m.File("width-0.bmp", Bmp(QSize(0, 16), 8, 0, rows), Expect::Cross);
        m.File("height-min.bmp", Bmp(QSize(32, INT_MIN), 8, 0, rows), Expect::Cross);
        m.File("height-minus-30000.bmp", Bmp(QSize(30000, -30000), 24, 0, rows), Expect::Cross);
        m.File("rle-top-down.bmp", Bmp(QSize(32, -16), 8, 1, QByteArray("\x00\x01", 2)));
    } else if (kind == "BMP gaps") {
        // Indices past the colour table, rows the file lacks, runs that skip pixels or end early.
        m.File("index-past-2-colours.bmp", Bmp(QSize(32, 16), 8, 0, QByteArray(512, '\x80'), 2),
               Expect::Black);
        m.File("index-past-1-colour.bmp", Bmp(QSize(32, 16), 1, 0, QByteArray(64, '\xff'), 1), Expect::Black);
        m.File("cut-short-24.bmp", Bmp(QSize(16, 16), 24, 0, QByteArray(4 * 48, '\0')), Expect::Black);
        m.File("cut-short-8.bmp", Bmp(QSize(32, 16), 8, 0, QByteArray(4 * 32, '\0')), Expect::Black);
        m.File("cut-short-1.bmp", Bmp(QSize(32, 16), 1, 0, QByteArray(4 * 4, '\0')), Expect::Black);
        m.File("rle-ends-at-once.bmp", Bmp(QSize(32, 16), 8, 1, QByteArray("\x00\x01", 2)), Expect::Black);
        m.File("rle-jumps.bmp", Bmp(QSize(32, 16), 8, 1, QByteArray("\x04\x00\x00\x02\x09\x07\x00\x00", 8)),
               Expect::Black);
    } else if (kind == "no pictures") {
        m.Other("folder.gif", QDir(dir).mkdir("folder.gif"));
        m.Other("loop-a.jpg", QFile::link(dir + "/loop-b.jpg", dir + "/loop-a.jpg") &&
                                  QFile::link(dir + "/loop-a.jpg", dir + "/loop-b.jpg"));
        m.Other("self.bmp", QFile::link(dir + "/self.bmp", dir + "/self.bmp"));
        m.Other("pipe.jpg", mkfifo(QFile::encodeName(dir + "/pipe.jpg").constData(), 0600) == 0);
        m.Other("zeros.bmp", QFile::link("/dev/zero", dir + "/zeros.bmp"));
        m.Other("missing.gif", true);
    }
    *ok = m.ok;
    return m.made;
}

const QStringList Kinds{"truncated",       "random",      "bit flips", "empty",       "bombs",
                        "huge GIF screen", "BMP heights", "BMP gaps",  "no pictures", "HEIF seeds"};

// --- Measuring ---------------------------------------------------------------------------------

qint64 StatusKilobytes(const char* field)
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(std::strlen(field))).trimmed().split(' ').first().toLongLong();
    return -1;
}

// The bytes the program holds on its heap.
qint64 HeapInUse()
{
#if defined(__SANITIZE_ADDRESS__)
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
#endif
}

// --- The tick ----------------------------------------------------------------------------------

// The tick with a loader that answers at once: a due run returns with the picture drawn and the
// next pick made ready.
struct Rig
{
    vbtest::FakeClock clock;
    vbtest::FakeRandom random;
    ImageCanvas canvas;
    InlineLoader loader;
    std::optional<SlideTick> tick;

    explicit Rig(QSize canvasSize)
    {
        canvas.Resize(canvasSize, 1.0);
        Renew();
    }
    // A new tick on the same canvas, with nothing made ready ahead: its first change shows a pick
    // of PictureList as it is now, not one made from the list before.
    void Renew()
    {
        tick.reset();
        tick.emplace(
            clock, random, canvas, loader,
            [] { return QSizeF(Screen.width() * 15.0, Screen.height() * 15.0); }, nullptr,
            PictureHolder::DefaultDecodeLimitMegabytes);
    }
    void Run()
    {
        clock.now += 1h;
        tick->Run();
    }
};

bool IsRed(QRgb c)
{
    return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
}

// The failure cross on black: red at the corners and the centre, black away from both lines.
bool ShowsCross(const QImage& image)
{
    const int w = image.width(), h = image.height();
    for (const QPoint p :
         {QPoint(1, 1), QPoint(w - 2, 1), QPoint(1, h - 2), QPoint(w - 2, h - 2), QPoint(w / 2, h / 2)})
        if (!IsRed(image.pixel(p)))
            return false;
    return image.pixel(w / 2, h / 10) == qRgb(0, 0, 0) && image.pixel(w / 20, h / 2) == qRgb(0, 0, 0);
}

// A picture: a holder loads it, and nothing is drawn outside the place its size puts it at.
bool ShowsPicture(const QImage& image, const QString& path, bool preview)
{
    PictureHolder holder;
    try {
        holder.Load(path);
    } catch (const std::exception&) {
        return false;
    }
    QSizeF drawn = holder.PixelSize();
    if (preview) {
        const double scale =
            std::min(double(image.width()) / Screen.width(), double(image.height()) / Screen.height());
        drawn *= scale;
    }
    const QRectF place((image.width() - drawn.width()) / 2, (image.height() - drawn.height()) / 2,
                       drawn.width(), drawn.height());
    const QRect inside = place.toAlignedRect().adjusted(-1, -1, 1, 1);
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        const bool across = y >= inside.top() && y <= inside.bottom();
        for (int x = 0; x < image.width(); ++x) {
            if (across && x >= inside.left() && x <= inside.right())
                x = inside.right();
            else if ((row[x] & 0xffffff) != 0)
                return false;
        }
    }
    return true;
}

bool AllBlack(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        if (std::any_of(row, row + image.width(), [](QRgb c) { return (c & 0xffffff) != 0; }))
            return false;
    }
    return true;
}

// Child mode: every file of the list through the tick, one line each: "<index> picture|cross|
// neither"; then the peak of resident memory before and after.
int RunTicks(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    // The decoders' complaints about the files are expected; the program keeps them quiet too.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*.warning=false"));
    const bool preview = std::strcmp(argv[2], "preview") == 0;
    QFile list(QString::fromLocal8Bit(argv[3]));
    if (!list.open(QIODevice::ReadOnly))
        return 2;
    const QStringList paths = QString::fromUtf8(list.readAll()).split('\n', Qt::SkipEmptyParts);
    RunMode = preview ? Preview : ScreenSaver;
    Rig rig(preview ? PreviewWindow : Screen);
    std::printf("start %lld\n", StatusKilobytes("VmHWM:"));
    for (qsizetype i = 0; i < paths.size(); ++i) {
        PictureList = {paths[i]};
        // A new tick for each file, so that its change shows this file (which it also decodes a
        // second time, as the next change's pick).
        rig.Renew();
        rig.Run();
        const QImage& shown = rig.canvas.Image();
        const char* outcome = ShowsCross(shown)                         ? "cross"
                              : !ShowsPicture(shown, paths[i], preview) ? "neither"
                              : AllBlack(shown)                         ? "black"
                                                                        : "picture";
        std::printf("%lld %s\n", qlonglong(i), outcome);
        std::fflush(stdout);
    }
    std::printf("peak %lld\n", StatusKilobytes("VmHWM:"));
    return 0;
}

} // namespace

class tst_HostilePictures : public QObject
{
    Q_OBJECT

    int m_files = 0; // each tried in full screen and in a preview
    qint64 m_peakKilobytes = 0;

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*.warning=false")); }
    void cleanupTestCase()
    {
        qInfo("hostile files tried: %d, each in full screen and in a preview; largest rise of peak "
              "memory: %lld kB (limit %lld kB plus the screen's image %lld kB)%s",
              m_files, m_peakKilobytes, LimitBytes / Kilobyte,
              qint64(Screen.width()) * Screen.height() * 4 / Kilobyte,
              Sanitized ? ", not bounded under AddressSanitizer" : "");
    }

    void hostilePictures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("mode");
        for (const QString& kind : Kinds)
            for (const char* mode : {"full screen", "preview"})
                QTest::addRow("%s, %s", qPrintable(kind), mode) << kind << QString(mode);
    }
    void hostilePictures()
    {
        QFETCH(QString, kind);
        QFETCH(QString, mode);
        QTemporaryDir dir;
        bool made = false;
        const QList<Hostile> set = MakeSet(kind, dir.filePath("pictures"), &made);
        QVERIFY(made);
        QStringList paths;
        for (const Hostile& h : set)
            paths.append(h.path);
        QVERIFY(vbtest::WriteFile(dir.filePath("list"), paths.join('\n').toUtf8()));

        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--ticks", mode == "preview" ? "preview" : "full", dir.filePath("list")});
        const bool ended = child.waitForFinished(600000);
        if (!ended)
            child.kill();
        const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
        const auto checked = std::count_if(lines.begin(), lines.end(), [](const QByteArray& line) {
            return !line.isEmpty() && line[0] >= '0' && line[0] <= '9';
        });
        QVERIFY2(ended && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 qPrintable(QString("stopped after %1 of %2 files; the next is %3")
                                .arg(checked)
                                .arg(set.size())
                                .arg(set.value(checked).path)));

        qint64 start = -1, peak = -1;
        for (const QByteArray& line : lines) {
            const QList<QByteArray> words = line.split(' ');
            if (words.size() != 2)
                continue;
            if (words[0] == "start") {
                start = words[1].toLongLong();
            } else if (words[0] == "peak") {
                peak = words[1].toLongLong();
            } else {
                const Hostile& h = set.at(words[0].toInt());
                const bool fine = h.expect == Expect::Black ? words[1] == "black"
                                  : words[1] == "cross"     ? true
                                                        : words[1] != "neither" && h.expect == Expect::Either;
                QVERIFY2(fine, qPrintable(QString("%1: %2").arg(h.path, QString(words[1]))));
            }
        }
        QCOMPARE(checked, set.size());
        m_files += mode == "preview" ? 0 : int(checked);

        QVERIFY(start > 0 && peak >= start);
        m_peakKilobytes = std::max(m_peakKilobytes, peak - start);
        const qint64 bound = (LimitBytes + qint64(Screen.width()) * Screen.height() * 4) / Kilobyte;
        // AddressSanitizer's shadow memory and quarantine grow with every allocation, so memory is
        // measured in the normal build.
        if (!Sanitized)
            QVERIFY2(peak - start <= bound, qPrintable(QString("peak rose by %1 kB").arg(peak - start)));
    }

    // Thousands of changes over good and hostile pictures, in full screen and in a preview by
    // turns: the heap holds no more afterwards than before.
    void soak()
    {
        const int ticks = Sanitized ? 600 : 5000;
        QTemporaryDir dir;
        QStringList paths;
        const QImage photo = vbtest::Quadrants(QSize(320, 200));
        for (const QString format : {"bmp", "jpg", "gif", "grey.jpg", "png", "heic", "avif"}) {
            const QString path =
                dir.filePath(QString("good-%1.%2").arg(format.size()).arg(format.split(u'.').last()));
            QVERIFY(vbtest::SavePicture(path, photo, qPrintable(format)));
            paths.append(path);
        }
        QVERIFY(vbtest::WriteFile(dir.filePath("progressive.jpg"), Encoded(photo, "jpg", true)));
        QVERIFY(vbtest::WriteFile(dir.filePath("exif.jpg"), vbtest::JpegWithOrientation(photo, 6)));
        paths << dir.filePath("progressive.jpg") << dir.filePath("exif.jpg");
        for (const char* kind : {"BMP heights", "no pictures", "empty"}) {
            bool made = false;
            for (const Hostile& h : MakeSet(kind, dir.filePath(kind), &made))
                paths.append(h.path);
            QVERIFY(made);
        }
        const QByteArray jpeg = Encoded(photo, "jpg");
        QVERIFY(vbtest::WriteFile(dir.filePath("cut.jpg"), jpeg.left(jpeg.size() / 2)));
        QVERIFY(vbtest::WriteFile(dir.filePath("bomb.jpg"),
                                  WithJpegSize(Encoded(photo, "jpg", true), {30000, 30000})));
        QVERIFY(vbtest::WriteFile(dir.filePath("bomb.gif"), Gif(QSize(30000, 30000), QSize(1, 1))));
        const QByteArray heic = Heif(photo, false);
        QVERIFY(vbtest::WriteFile(dir.filePath("cut.heic"), heic.left(heic.size() / 2)));
        QVERIFY(vbtest::WriteFile(dir.filePath("bomb.heic"), WithIspe(heic, {30000, 30000})));
        paths << dir.filePath("cut.jpg") << dir.filePath("bomb.jpg") << dir.filePath("bomb.gif")
              << dir.filePath("cut.heic") << dir.filePath("bomb.heic");

        ResetModuleState();
        PictureList = PathList::FromStringList(paths);
        ShowFileNames = -1;
        Rig full(QSize(800, 600));
        Rig preview(QSize(80, 60));
        const qsizetype cycle = 2 * paths.size();
        int crosses = 0;
        auto tick = [&](qsizetype i) {
            Rig& rig = i % 2 ? preview : full;
            RunMode = i % 2 ? Preview : ScreenSaver;
            rig.random.next = (double((i / 2) % paths.size()) + 0.5) / double(paths.size());
            rig.Run();
            crosses += ShowsCross(rig.canvas.Image()) ? 1 : 0;
        };
        // A first round fills what Qt keeps for good (plug-ins, fonts); the measurements come
        // after the same file in each, so that both ticks hold the same frames, the one shown and
        // the one made ready ahead.
        for (qsizetype i = 0; i < cycle; ++i)
            tick(i);
        const qint64 heapBefore = HeapInUse();
        const qint64 residentBefore = StatusKilobytes("VmRSS:");
        const qsizetype rounds = (ticks + cycle - 1) / cycle;
        crosses = 0;
        for (qsizetype i = 0; i < rounds * cycle; ++i)
            tick(i);
        const qint64 heapAfter = HeapInUse();
        const qint64 residentAfter = StatusKilobytes("VmRSS:");
        qInfo("soak: %lld ticks over %lld files (%d crosses); heap in use %lld -> %lld bytes, resident %lld "
              "-> %lld kB",
              qlonglong(rounds * cycle), qlonglong(paths.size()), crosses, heapBefore, heapAfter,
              residentBefore, residentAfter);
        QVERIFY(crosses > 0 && crosses < rounds * cycle);
        QVERIFY2(heapAfter - heapBefore <= 64 * Kilobyte, "the heap grew");
        // Under AddressSanitizer freed memory waits in a quarantine, still resident.
        if (!Sanitized)
            QVERIFY2(residentAfter - residentBefore <= 8 * 1024, "resident memory grew");
    }
};

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--ticks") == 0)
        return RunTicks(argc, argv);
    // The files of one hostile set, written into a folder and listed, for a run of --ticks under
    // a memory checker (tests/sanitizers/valgrind-pictures).
    if (argc == 4 && std::strcmp(argv[1], "--make") == 0) {
        QGuiApplication app(argc, argv);
        bool made = false;
        for (const Hostile& h :
             MakeSet(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), &made))
            std::printf("%s\n", qPrintable(h.path));
        return made ? 0 : 1;
    }
    QGuiApplication app(argc, argv);
    tst_HostilePictures test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hostilepictures.moc"
