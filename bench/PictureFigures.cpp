// A picture change as the cover window makes it (the slide tick's real code, and the frame its
// loader reads, decodes and draws) against libjpeg-turbo's own decoder on the same file (for a
// HEIC or AVIF photo: libheif's heif-convert), and the memory a change adds.
#include "BackgroundLoader.h"
#include "InlineLoader.h"
#include "Measure.h"
#include "PictureFiles.h"
#include "cover/SlideTick.h"
#include "loading/HelperConnection.h"
#include "picture/Colours.h"
#include "picture/ImageCanvas.h"
#include "picture/PictureHolder.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/RandomSource.h"
#include "state/ModuleState.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <sys/resource.h>

namespace vbbench {

namespace {

// The slide tick on a canvas of a given size, with a loader that makes each frame on this thread
// before the tick goes on (the cover window's loader makes the same frame, by the same
// RenderFrame, on a thread of its own). One picture change is one due run of the tick with a
// one-entry PictureList: it shows the frame made ready at the run before and makes the next, so
// after the first run (which makes two) each run reads, decodes and draws the picture once.
struct Slideshow
{
    vb::SystemClock clock;
    vb::StdRandomSource random;
    vb::ImageCanvas canvas;
    vb::InlineLoader loader;
    vb::SlideTick tick;

    Slideshow(QSize canvasSize, vb::RunModes mode, bool fit = false)
        : tick(
              clock, random, canvas, loader, [] { return QSizeF(1920 * 15.0, 1080 * 15.0); }, nullptr,
              vb::PictureHolder::DefaultDecodeLimitMegabytes)
    {
        vb::RunMode = mode;
        vb::ShowFileNames = 0;
        vb::FitLargePictures = fit ? -1 : 0;
        canvas.Resize(canvasSize, 1.0);
        canvas.Cls();
    }
    void Change(const QString& path)
    {
        vb::PictureList = {path};
        vb::NextPictureTime = vb::DateTime{};
        tick.Run();
    }
};

// The picture's own size, upright, as the slideshow reads it.
QSize PictureSize(const QString& path)
{
    vb::PictureHolder picture;
    try {
        picture.Load(path);
    } catch (const std::exception&) {
        return QSize();
    }
    return picture.PixelSize();
}

QString SizeText(QSize size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

// djpeg's -crop of the part of a picture of `size` that a screen of `screen` shows, centred.
QString CentredCrop(QSize size, QSize screen)
{
    return QStringLiteral("%1x%2+%3+%4")
        .arg(screen.width())
        .arg(screen.height())
        .arg((size.width() - screen.width()) / 2)
        .arg((size.height() - screen.height()) / 2);
}

// Times one picture change against a command (program and arguments) on the same file,
// alternating the two.
void CommandChangeFigure(const Context& context, std::vector<Row>& rows, const QString& figure,
                         const QString& path, QSize canvas, vb::RunModes mode, const QStringList& command,
                         double maxRatio, bool fit = false)
{
    if (!QFileInfo::exists(path))
        return;
    Slideshow show(canvas, mode, fit);
    show.Change(path); // loads the decoder plugin and touches the canvas
    std::vector<double> ours, reference;
    for (int i = 0; i < context.repetitions; ++i) {
        ours.push_back(Seconds([&] { show.Change(path); }));
        reference.push_back(CommandSeconds(command.first(), command.mid(1)));
    }
    rows.push_back(Row{figure, Median(ours) * 1000, Median(reference) * 1000, QStringLiteral("ms"),
                       maxRatio > 0 ? QString::asprintf("<= %.1f x", maxRatio) : QString(), maxRatio});
}

// The same against djpeg with the arguments given.
void ChangeFigure(const Context& context, std::vector<Row>& rows, const QString& figure, const QString& path,
                  QSize canvas, vb::RunModes mode, const QStringList& djpegArguments, double maxRatio,
                  bool fit = false)
{
    CommandChangeFigure(context, rows, figure, path, canvas, mode,
                        QStringList{QStringLiteral("djpeg")} + djpegArguments + QStringList{path}, maxRatio,
                        fit);
}

// From the due tick to the new picture in the window's image, when the picture was made ready
// ahead on a thread while the last one showed; against a change that loads it at the tick.
void PrefetchedChangeFigure(const Context& context, std::vector<Row>& rows, const QString& photoText,
                            const QString& path)
{
    if (!QFileInfo::exists(path))
        return;
    vb::SystemClock clock;
    vb::StdRandomSource random;
    vb::ImageCanvas canvas;
    vb::BackgroundLoader loader;
    vb::SlideTick tick(
        clock, random, canvas, loader, [] { return QSizeF(1920 * 15.0, 1080 * 15.0); }, {},
        vb::PictureHolder::DefaultDecodeLimitMegabytes);
    vb::RunMode = vb::ScreenSaver;
    vb::ShowFileNames = 0;
    vb::PictureList = {path};
    canvas.Resize(QSize(1920, 1080), 1.0);
    Slideshow direct(QSize(1920, 1080), vb::ScreenSaver);
    direct.Change(path);

    // The first change has nothing made ready ahead; it starts the next one's loading.
    tick.Run();
    std::vector<double> ours, reference;
    for (int i = 0; i < context.repetitions; ++i) {
        const auto ready = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!tick.NextReady() && std::chrono::steady_clock::now() < ready)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (!tick.NextReady()) {
            std::fprintf(stderr, "the next picture did not get ready; the prefetch figure is left out\n");
            return;
        }
        const qint64 before = canvas.Image().cacheKey();
        vb::NextPictureTime = vb::DateTime{};
        const double seconds = Seconds([&] { tick.Run(); });
        if (canvas.Image().cacheKey() == before) {
            std::fprintf(stderr, "a prefetched change did not draw at once; the figure is left out\n");
            return;
        }
        ours.push_back(seconds);
        reference.push_back(Seconds([&] { direct.Change(path); }));
    }
    rows.push_back(Row{QStringLiteral("due tick to the new picture, made ready ahead, %1 JPEG on 1920x1080 "
                                      "(vs loading it at the tick)")
                           .arg(photoText),
                       Median(ours) * 1000, Median(reference) * 1000, QStringLiteral("ms"),
                       QStringLiteral("<= 20 ms"), 0, 20.0});
}

} // namespace

void PictureChangeFigures(const Context& context, std::vector<Row>& rows)
{
    const QString photo = context.corpus + QStringLiteral("/pictures/photo.jpg");
    const QString screenSized = context.corpus + QStringLiteral("/pictures/screen.jpg");
    const QSize screen(1920, 1080);
    const QSize photoSize = PictureSize(photo);
    const QString photoText = SizeText(photoSize);
    const QString crop = CentredCrop(photoSize, screen);

    ChangeFigure(
        context, rows,
        QStringLiteral("full-screen change, %1 JPEG on 1920x1080 (vs djpeg -crop %2)").arg(photoText, crop),
        photo, screen, vb::ScreenSaver, {QStringLiteral("-crop"), crop}, 1.3);
    ChangeFigure(context, rows,
                 QStringLiteral("full-screen change, %1 JPEG on 1920x1080 (vs djpeg of the whole file)")
                     .arg(photoText),
                 photo, screen, vb::ScreenSaver, {}, 0);
    ChangeFigure(context, rows,
                 QStringLiteral("preview change, %1 JPEG on 192x108 (vs djpeg -scale 1/8)").arg(photoText),
                 photo, QSize(192, 108), vb::Preview, {QStringLiteral("-scale"), QStringLiteral("1/8")}, 1.2);
    ChangeFigure(context, rows, QStringLiteral("full-screen change, 1920x1080 JPEG (vs djpeg)"), screenSized,
                 screen, vb::ScreenSaver, {}, 1.5);
    PrefetchedChangeFigure(context, rows, photoText, photo);
    ChangeFigure(context, rows,
                 QStringLiteral("FitLargePictures: full-screen change, %1 JPEG fitted to 1920x1080 "
                                "(vs djpeg -scale 1/4)")
                     .arg(photoText),
                 photo, screen, vb::ScreenSaver, {QStringLiteral("-scale"), QStringLiteral("1/4")}, 1.3,
                 true);

    // HEIC and AVIF photos against heif-convert of the same file, which decodes it whole and
    // writes a JPEG; and against heif-convert writing the decoder's own planes (.y4m), which
    // leaves out the colour conversion and the JPEG encoder.
    for (const char* kind : {"HEIC", "AVIF"}) {
        const QString heif = context.corpus + QStringLiteral("/pictures/photo.") + QString(kind).toLower();
        const QString text = SizeText(PictureSize(heif)) + u' ' + QLatin1String(kind);
        const QString out = context.corpus + QStringLiteral("/heif-convert-out");
        CommandChangeFigure(
            context, rows,
            QStringLiteral("full-screen change, %1 on 1920x1080 (vs heif-convert to JPEG)").arg(text), heif,
            screen, vb::ScreenSaver, {QStringLiteral("heif-convert"), heif, out + QStringLiteral(".jpg")},
            1.2);
        CommandChangeFigure(context, rows,
                            QStringLiteral("full-screen change, %1 on 1920x1080 (vs heif-convert to .y4m, "
                                           "the decoder's planes)")
                                .arg(text),
                            heif, screen, vb::ScreenSaver,
                            {QStringLiteral("heif-convert"), heif, out + QStringLiteral(".y4m")}, 0);
    }
}

namespace {

// Seconds from asking the helper for a frame to the frame arriving on this thread, as a cover's
// loader gets it; negative when no picture came within 30 s.
double HelperFrameSeconds(vb::HelperConnection& helper, const vb::FrameRequest& request)
{
    const quint64 client = helper.Join();
    QEventLoop loop;
    double seconds = -1;
    bool picture = false;
    const auto start = std::chrono::steady_clock::now();
    helper.RequestFrame(request, client, [&](vb::Frame frame) {
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        picture = !frame.image.isNull();
        loop.quit();
    });
    QTimer::singleShot(std::chrono::seconds(30), &loop, &QEventLoop::quit);
    // The answer comes through the event loop, never before RequestFrame returns.
    loop.exec();
    helper.Leave(client);
    return picture ? seconds : -1;
}

} // namespace

// The full-screen change through the loading helper, as the program makes it, against the same
// change in this process (the slide tick with the frame made on this thread) and djpeg -crop, the
// three alternating.
void HelperChangeFigures(const Context& context, std::vector<Row>& rows)
{
    const QString photo = context.corpus + QStringLiteral("/pictures/photo.jpg");
    if (!QFileInfo::exists(photo))
        return;
    const QSize screen(1920, 1080);
    const QSize photoSize = PictureSize(photo);
    const QString crop = CentredCrop(photoSize, screen);
    Slideshow show(screen, vb::ScreenSaver);
    show.Change(photo);
    // The frame the tick asks for in that change.
    const vb::FrameRequest request{0,     photo,    show.canvas.WithoutImage(),
                                   false, QSizeF(), vb::PictureHolder::DefaultDecodeLimitMegabytes,
                                   false, false};
    // Kept to the end of the bench, as the program keeps its own: its reader thread outlives it.
    static vb::HelperConnection* helper =
        new vb::HelperConnection({context.program,
                                  vb::PictureHolder::DefaultDecodeLimitMegabytes,
                                  {},
                                  false,
                                  std::chrono::seconds(30)});
    // The helper's start, its first frame's decoder plugin and its pages are not the change's.
    if (HelperFrameSeconds(*helper, request) < 0) {
        std::fprintf(stderr, "the loading helper sent no picture; its change figures are left out\n");
        return;
    }
    std::vector<double> ours, inProcess, reference;
    for (int i = 0; i < context.repetitions; ++i) {
        ours.push_back(HelperFrameSeconds(*helper, request));
        inProcess.push_back(Seconds([&] { show.Change(photo); }));
        reference.push_back(CommandSeconds(QStringLiteral("djpeg"), {QStringLiteral("-crop"), crop, photo}));
        if (ours.back() < 0) {
            std::fprintf(stderr, "the loading helper sent no picture; its change figures are left out\n");
            return;
        }
    }
    const QString figure =
        QStringLiteral(
            "full-screen change through the loading helper, request to frame, %1 JPEG on 1920x1080 "
            "(vs %2)")
            .arg(SizeText(photoSize));
    rows.push_back(Row{figure.arg(QStringLiteral("the same change in this process")), Median(ours) * 1000,
                       Median(inProcess) * 1000, QStringLiteral("ms"), QStringLiteral("<= 1.1 x"), 1.1});
    rows.push_back(Row{figure.arg(QStringLiteral("djpeg -crop %1").arg(crop)), Median(ours) * 1000,
                       Median(reference) * 1000, QStringLiteral("ms"), QStringLiteral("<= 1.3 x"), 1.3});
}

namespace {

long StatusKilobytes(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(std::strlen(key))).trimmed().split(' ').value(0).toLong();
    return -1;
}

} // namespace

// In a child process of its own: the peak resident memory that one piece of work adds, in
// kilobytes, after a warm-up change with `warmUp` (decoder plugin, canvas pages, allocator). The
// change after it shows the warm-up's frame made ready ahead and makes `path`'s frame: the work
// measured is `path` read, decoded and drawn.
int PeakMemoryChild(const QString& work, const QString& path, const QString& warmUp)
{
    Slideshow show(QSize(1920, 1080), vb::ScreenSaver);
    show.Change(warmUp);
    // "5" resets the peak (VmHWM) to the present resident size.
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (!clearRefs.open(QIODevice::WriteOnly) || clearRefs.write("5") != 1)
        return 1;
    clearRefs.close();
    const long before = StatusKilobytes("VmHWM:");
    QImage whole;
    vb::FitLargePictures = work == QLatin1String("fitted") ? -1 : 0;
    if (work == QLatin1String("change") || work == QLatin1String("fitted"))
        show.Change(path);
    else
        whole = QImage(path);
    const long peak = StatusKilobytes("VmHWM:");
    std::printf("%ld\n", peak - before);
    return before < 0 || peak < 0 ? 1 : 0;
}

namespace {

double PeakMemoryMegabytes(const Context& context, const QString& work, const QString& path,
                           const QString& warmUp)
{
    std::vector<double> samples;
    for (int i = 0; i < context.repetitions; ++i) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--peak-memory"), work, path, warmUp});
        if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
            return -1;
        // A change that adds nothing now and then reads a page below the peak reset before it.
        samples.push_back(std::max(0.0, child.readAllStandardOutput().trimmed().toDouble() / 1024));
    }
    return Median(samples);
}

} // namespace

void PeakMemoryFigures(const Context& context, std::vector<Row>& rows)
{
    const QString photo = context.corpus + QStringLiteral("/pictures/photo.jpg");
    const QString small = context.corpus + QStringLiteral("/pictures/small.jpg");
    if (!QFileInfo::exists(photo) || !QFileInfo::exists(small))
        return;
    const QSize photoSize = PictureSize(photo);
    const QString photoText = QStringLiteral("%1x%2").arg(photoSize.width()).arg(photoSize.height());
    const double change = PeakMemoryMegabytes(context, QStringLiteral("change"), photo, small);
    const double smallChange = PeakMemoryMegabytes(context, QStringLiteral("change"), small, small);
    const double whole = PeakMemoryMegabytes(context, QStringLiteral("whole"), photo, small);
    const double fitted = PeakMemoryMegabytes(context, QStringLiteral("fitted"), photo, small);
    if (change < 0 || smallChange < 0 || whole < 0 || fitted < 0) {
        std::fprintf(stderr,
                     "peak memory: /proc/self/clear_refs or /proc/self/status unusable; rows left out\n");
        return;
    }
    rows.push_back(Row{QStringLiteral("peak memory added, full-screen change of a %1 JPEG on 1920x1080 "
                                      "(vs QImage decoding it whole)")
                           .arg(photoText),
                       change, whole, QStringLiteral("MB"), QStringLiteral("<= 25 MB"), 0, 25.0});
    rows.push_back(
        Row{QStringLiteral("peak memory added, full-screen change of a %1 JPEG (vs of a 200x100 JPEG)")
                .arg(photoText),
            change, smallChange, QStringLiteral("MB"), QString(), 0});
    rows.push_back(Row{QStringLiteral("FitLargePictures: peak memory added, full-screen change of a %1 JPEG "
                                      "fitted to 1920x1080 (vs QImage decoding it whole)")
                           .arg(photoText),
                       fitted, whole, QStringLiteral("MB"), QStringLiteral("<= 25 MB"), 0, 25.0});
}

// In a child process of its own: the peak resident memory of a command that this process runs and
// waits for, in kilobytes.
int CommandPeakChild(const QStringList& command)
{
    if (CommandSeconds(command.first(), command.mid(1)) < 0)
        return 1;
    struct rusage usage
    {
    };
    if (getrusage(RUSAGE_CHILDREN, &usage) != 0)
        return 1;
    std::printf("%ld\n", usage.ru_maxrss);
    return 0;
}

namespace {

double CommandPeakMegabytes(const Context& context, const QStringList& command)
{
    std::vector<double> samples;
    for (int i = 0; i < context.repetitions; ++i) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    QStringList{QStringLiteral("--command-peak")} + command);
        if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
            return -1;
        samples.push_back(child.readAllStandardOutput().trimmed().toDouble() / 1024);
    }
    return Median(samples);
}

} // namespace

// A HEIF photo is decoded whole: the memory a full-screen change adds, against the size of the
// decoded picture at 32 bits a pixel (how a picture decoded whole is held, and what the goal is
// stated in), and against what heif-convert's own decoding adds (its peak with this file less its
// peak with a 200x100 one).
//
// The figure counts all the change holds at its highest, and that comes inside heif_decode_image,
// before the window's image exists. For HEIC it is libde265's: its frame, a second frame as large,
// and its data of every block (for 12 megapixels at 8 bits, about 1.2 x the decoded size by
// themselves; libheif's interface sets none of it). For AVIF it is libheif's: its copy of dav1d's
// frame (dav1d then closed, see HeifAv1) and the red, green and blue planes it converts that copy
// into.
void HeifPeakMemoryFigures(const Context& context, std::vector<Row>& rows)
{
    for (const char* kind : {"heic", "avif"}) {
        const QString photo = context.corpus + QStringLiteral("/pictures/photo.") + kind;
        const QString small = context.corpus + QStringLiteral("/pictures/small.") + kind;
        if (!QFileInfo::exists(photo) || !QFileInfo::exists(small))
            continue;
        const QSize size = PictureSize(photo);
        const QString text = SizeText(size) + u' ' + QString(kind).toUpper();
        const double decoded = double(size.width()) * size.height() * 4 / (1 << 20);
        const double change = PeakMemoryMegabytes(context, QStringLiteral("change"), photo, small);
        const QString out = context.corpus + QStringLiteral("/heif-convert-out.jpg");
        const double convert = CommandPeakMegabytes(context, {QStringLiteral("heif-convert"), photo, out});
        const double convertSmall =
            CommandPeakMegabytes(context, {QStringLiteral("heif-convert"), small, out});
        if (change < 0 || convert < 0 || convertSmall < 0) {
            std::fprintf(stderr, "peak memory of %s: a child failed; rows left out\n", kind);
            continue;
        }
        rows.push_back(
            Row{QStringLiteral("peak memory added, full-screen change of a %1 on 1920x1080 (vs the "
                               "decoded picture, %2 x 4 bytes)")
                    .arg(text, SizeText(size)),
                change, decoded, QStringLiteral("MB"), QStringLiteral("<= 1.1 x"), 1.1});
        rows.push_back(Row{QStringLiteral("peak memory added, full-screen change of a %1 on 1920x1080 (vs "
                                          "heif-convert's own decoding of it)")
                               .arg(text),
                           change, convert - convertSmall, QStringLiteral("MB"), QString(), 0});
    }
}

// Phone photos as phones write them, a grid of 512 x 512 HEVC tiles (bench/run makes them with
// `--make-tiled`), 24 and 48 megapixels: a full-screen change, own size and fitted, against
// heif-convert of the same file, and the memory each adds; and the colour conversion of a
// Display P3 JPEG against the same JPEG without its profile.
void PhotoFigures(const Context& context, std::vector<Row>& rows)
{
    const QSize screen(1920, 1080);
    const QString small = context.corpus + QStringLiteral("/pictures/small.heic");
    for (const char* name : {"phone24", "phone48"}) {
        const QString path = context.corpus + QStringLiteral("/photos/%1.heic").arg(QLatin1String(name));
        if (!QFileInfo::exists(path) || !QFileInfo::exists(small))
            continue;
        const QString text = SizeText(PictureSize(path)) + QStringLiteral(" tiled HEIC");
        const QStringList convert{QStringLiteral("heif-convert"), path,
                                  context.corpus + QStringLiteral("/heif-convert-out.jpg")};
        for (const bool fit : {false, true}) {
            const QString mode = fit ? QStringLiteral("FitLargePictures: ") : QString();
            CommandChangeFigure(
                context, rows,
                QStringLiteral("%1full-screen change, %2 on 1920x1080 (vs heif-convert to JPEG)")
                    .arg(mode, text),
                path, screen, vb::ScreenSaver, convert, fit ? 1.2 : 0.5, fit);
            const double added = PeakMemoryMegabytes(
                context, fit ? QStringLiteral("fitted") : QStringLiteral("change"), path, small);
            if (added >= 0)
                rows.push_back(
                    Row{QStringLiteral("%1peak memory added, full-screen change of a %2 on 1920x1080")
                            .arg(mode, text),
                        added, 0, QStringLiteral("MB"), QStringLiteral("<= 64 MB"), 0, 64.0});
        }
    }

    const QString plain = context.corpus + QStringLiteral("/pictures/photo.jpg");
    const QString p3 = context.corpus + QStringLiteral("/photos/photo-p3.jpg");
    if (!QFileInfo::exists(plain) || !QFileInfo::exists(p3))
        return;
    Slideshow show(screen, vb::ScreenSaver);
    show.Change(p3);
    std::vector<double> managed, unmanaged;
    for (int i = 0; i < context.repetitions; ++i) {
        managed.push_back(Seconds([&] { show.Change(p3); }));
        unmanaged.push_back(Seconds([&] { show.Change(plain); }));
    }
    rows.push_back(
        Row{QStringLiteral("full-screen change, %1 Display P3 JPEG on 1920x1080, colours converted (vs "
                           "the same JPEG without its profile)")
                .arg(SizeText(PictureSize(plain))),
            Median(managed) * 1000, Median(unmanaged) * 1000, QStringLiteral("ms"),
            QStringLiteral("<= 1.15 x"), 1.15});
}

//   vellumbright_bench --make-tiled PICTURE OUT.heic: the picture as a grid of 512 x 512 tiles.
//   vellumbright_bench --display-p3 OUT.icc: a Display P3 profile.
int MakeCorpusFile(const QString& what, const QString& from, const QString& to)
{
    if (what == QLatin1String("--make-tiled"))
        return vbtest::SaveTiledHeif(to, QImage(from).convertToFormat(QImage::Format_RGB32)) ? 0 : 1;
    QFile out(to);
    return out.open(QIODevice::WriteOnly) && out.write(vb::ProfileOf(12, 13)) > 0 ? 0 : 1;
}

//   vellumbright_bench --changes PATH WIDTHxHEIGHT full|fit|preview COUNT
int ChangesForProfiler(const QString& path, const QString& size, const QString& mode, int count)
{
    const QStringList parts = size.split(u'x');
    if (parts.size() != 2 || !QFileInfo::exists(path))
        return 2;
    Slideshow show(QSize(parts[0].toInt(), parts[1].toInt()),
                   mode == QLatin1String("preview") ? vb::Preview : vb::ScreenSaver,
                   mode == QLatin1String("fit"));
    for (int i = 0; i < count; ++i)
        show.Change(path);
    return 0;
}

} // namespace vbbench
