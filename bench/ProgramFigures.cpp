// The whole program under the X server of DISPLAY: how long it takes to show its first picture,
// and what it costs while it waits between pictures. And, in this process, what a tick that is
// not due costs.
#include "AllocationCounter.h"
#include "InlineLoader.h"
#include "Measure.h"
#include "catalogue/PictureIndex.h"
#include "cover/SlideTick.h"
#include "picture/ImageCanvas.h"
#include "picture/PictureHolder.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/RandomSource.h"
#include "state/ModuleState.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QLocale>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <numeric>
#include <sys/resource.h>
#include <thread>

namespace vbbench {

namespace {

using namespace std::chrono_literals;

void NotDueTickFigures(std::vector<Row>& rows)
{
    vb::SystemClock clock;
    vb::StdRandomSource random;
    vb::ImageCanvas canvas;
    vb::InlineLoader loader;
    vb::SlideTick tick(
        clock, random, canvas, loader, [] { return QSizeF(1920 * 15.0, 1080 * 15.0); }, nullptr,
        vb::PictureHolder::DefaultDecodeLimitMegabytes);
    canvas.Resize(QSize(1920, 1080), 1.0);
    vb::RunMode = vb::ScreenSaver;
    vb::PictureList = {QStringLiteral("/nowhere/picture.jpg")};
    vb::NextPictureTime = vb::DateAddSeconds(clock.Now(), 3600);

    constexpr int Ticks = 100000;
    int due = 0;
    const long before = vbtest::AllocationCount();
    const double seconds = Seconds([&] {
        for (int i = 0; i < Ticks; ++i)
            due += tick.Run() ? 1 : 0;
    });
    const long allocations = vbtest::AllocationCount() - before;
    rows.push_back(
        Row{QStringLiteral("a not-due tick: allocations in %1 ticks").arg(QLocale::c().toString(Ticks)),
            double(allocations), 0, QString(), QStringLiteral("0"), 0, 0.0});
    if (due != 0)
        std::fprintf(stderr, "%d of the ticks were due; the not-due figures are not what they say\n", due);
    rows.push_back(Row{QStringLiteral("a not-due tick: time per tick"), seconds / Ticks * 1e9, 0,
                       QStringLiteral("ns"), QString(), 0});
}

// The program's own folder of one picture, and its settings.
struct Setup
{
    QString pictures;
    QString config;
    QString runtime;
    QString cache;
    QRgb colour = qRgb(255, 0, 255);
    // The runtime folder is in memory, as /run/user/<uid> is on a desktop. On a disk mounted with
    // `discard` (this machine's), removing the instance file at the end waited for the disk: up
    // to 23 ms of the key rows beside a build.
    std::shared_ptr<QTemporaryDir> inMemory =
        std::make_shared<QTemporaryDir>(QStringLiteral("/dev/shm/vb-bench-XXXXXX"));

    bool Make(const QString& corpus, const QString& name = QStringLiteral("program"))
    {
        const QString root = corpus + u'/' + name;
        pictures = root + QStringLiteral("/pictures");
        config = root + QStringLiteral("/config");
        runtime = inMemory->isValid() ? inMemory->path() : root + QStringLiteral("/runtime");
        cache = root + QStringLiteral("/cache");
        if (!QDir().mkpath(pictures) || !QDir().mkpath(config) || !QDir().mkpath(runtime))
            return false;
        QFile::setPermissions(runtime,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QImage picture(800, 600, QImage::Format_RGB32);
        picture.fill(colour);
        if (!picture.save(pictures + QStringLiteral("/first.jpg"), "jpg", 95))
            return false;
        QFile ini(config + QStringLiteral("/Lanternshade.ini"));
        if (!ini.open(QIODevice::WriteOnly))
            return false;
        ini.write(QStringLiteral("[Settings]\nNumDirs=1\nDir1=%1\nInterval=3600\nShowFileNames=False\n")
                      .arg(pictures)
                      .toUtf8());
        return true;
    }

    QProcessEnvironment Environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        env.insert(QStringLiteral("XDG_CACHE_HOME"), cache);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        return env;
    }
};

QRgb CentrePixel()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    const QPoint centre = screen->geometry().center();
    return screen->grabWindow(0, centre.x(), centre.y(), 1, 1).toImage().pixel(0, 0);
}

bool Near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) < 40 && std::abs(qGreen(a) - qGreen(b)) < 40 &&
           std::abs(qBlue(a) - qBlue(b)) < 40;
}

// Seconds from the start of the program until `shown` holds for the screen's centre pixel;
// negative when the program ended or nothing showed within ten seconds. The program is left
// running.
double SecondsUntilShown(QProcess& process, const Context& context, const Setup& setup,
                         const QStringList& arguments, const std::function<bool(QRgb)>& shown)
{
    process.setProcessEnvironment(setup.Environment());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    const auto start = std::chrono::steady_clock::now();
    process.start(context.program, arguments);
    if (!process.waitForStarted())
        return -1;
    while (std::chrono::steady_clock::now() - start < 10s) {
        if (shown(CentrePixel()))
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (process.waitForFinished(1))
            return -1;
    }
    return -1;
}

void End(QProcess& process)
{
    if (process.state() != QProcess::NotRunning) {
        ::kill(pid_t(process.processId()), SIGTERM);
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished();
        }
    }
}

// The sum over a process's threads of what `read` finds in each one's /proc/<pid>/task/<tid>/<file>.
qint64 SumOverThreads(qint64 pid, const QString& file, const std::function<qint64(const QByteArray&)>& read)
{
    qint64 total = 0;
    for (const QString& task :
         QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/%1/task/%2/%3").arg(pid).arg(task, file));
        if (stat.open(QIODevice::ReadOnly))
            total += read(stat.readAll());
    }
    return total;
}

// Nanoseconds of CPU time a process has used, all its threads together.
qint64 CpuNanoseconds(qint64 pid)
{
    return SumOverThreads(pid, QStringLiteral("schedstat"),
                          [](const QByteArray& text) { return text.split(' ').value(0).toLongLong(); });
}

// The processes whose parent is `pid` (a saver's loading helper, and any that replaced it). Found
// by their parent in /proc/<pid>/stat: this kernel has no /proc/<pid>/task/<tid>/children.
std::vector<qint64> ChildProcesses(qint64 pid)
{
    std::vector<qint64> children;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 process = entry.toLongLong(&number);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!number || !stat.open(QIODevice::ReadOnly))
            continue;
        // The name in parentheses may hold spaces; after it come the state, then the parent.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1).toLongLong() == pid)
            children.push_back(process);
    }
    return children;
}

// Nanoseconds of CPU time of a process and of each of its children.
struct CpuSample
{
    qint64 own = 0;
    std::map<qint64, qint64> children;
};

CpuSample SampleCpu(qint64 pid)
{
    CpuSample sample{CpuNanoseconds(pid), {}};
    for (qint64 child : ChildProcesses(pid))
        sample.children[child] = CpuNanoseconds(child);
    return sample;
}

// The children's CPU time from `before` to `after`; a child started in between counts whole.
qint64 ChildrenCpu(const CpuSample& before, const CpuSample& after)
{
    qint64 total = 0;
    for (const auto& [child, cpu] : after.children) {
        const auto earlier = before.children.find(child);
        total += cpu - (earlier == before.children.end() ? 0 : earlier->second);
    }
    return total;
}

// A process that has ended (perhaps not yet reaped by its new parent) is gone.
bool Gone(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const QByteArray state = text.mid(text.lastIndexOf(')') + 2, 1);
    return state == "Z" || state == "X";
}

// Waits up to `limit` for the processes to end: a helper left decoding would take a core from
// the next run.
bool WaitUntilGone(const std::vector<qint64>& processes, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (std::all_of(processes.begin(), processes.end(), Gone))
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
}

// The system calls of processes (each with all its threads) during `seconds`, by name, from
// strace's summary.
std::map<QString, long> SystemCalls(const std::vector<qint64>& pids, int seconds, bool* ok)
{
    std::map<QString, long> calls;
    const QString summary = QDir::tempPath() + QStringLiteral("/vb-bench-strace-%1.txt").arg(pids.front());
    QStringList arguments{QStringLiteral("-f"), QStringLiteral("-c"), QStringLiteral("-q"),
                          QStringLiteral("-o"), summary};
    for (qint64 pid : pids)
        arguments << QStringLiteral("-p") << QString::number(pid);
    QProcess strace;
    strace.setStandardOutputFile(QProcess::nullDevice());
    strace.setStandardErrorFile(QProcess::nullDevice());
    strace.start(QStringLiteral("strace"), arguments);
    *ok = strace.waitForStarted();
    if (!*ok)
        return calls;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    ::kill(pid_t(strace.processId()), SIGINT);
    strace.waitForFinished();
    QFile file(summary);
    *ok = file.open(QIODevice::ReadOnly);
    static const QRegularExpression line(
        QStringLiteral("^\\s*[\\d.]+\\s+[\\d.]+\\s+\\d+\\s+(\\d+)\\s+(?:\\d+\\s+)?(\\w+)\\s*$"));
    for (const QString& text : QString::fromUtf8(file.readAll()).split(u'\n')) {
        const auto match = line.match(text);
        if (match.hasMatch() && match.captured(2) != QLatin1String("total"))
            calls[match.captured(2)] = match.captured(1).toLong();
    }
    QFile::remove(summary);
    return calls;
}

long Count(const std::map<QString, long>& calls, std::initializer_list<const char*> names)
{
    long total = 0;
    for (const char* name : names) {
        const auto it = calls.find(QLatin1String(name));
        total += it == calls.end() ? 0 : it->second;
    }
    return total;
}

// What a run costs while it waits between pictures, once it shows its first one: CPU time, and
// the file calls and X requests that strace sees.
void WaitingFigures(const QString& run, QProcess& saver, std::vector<Row>& rows)
{
    const int seconds = std::max(2, qEnvironmentVariableIntValue("VB_BENCH_IDLE_SECONDS"));
    std::this_thread::sleep_for(1s);
    const qint64 pid = saver.processId();
    // The loading helper waits with the program, and its CPU time is the program's too. Read from
    // schedstat in nanoseconds as the program's own: /proc/<pid>/stat's clock ticks (10 ms) would
    // be as large as the goal.
    const CpuSample before = SampleCpu(pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const CpuSample after = SampleCpu(pid);
    const qint64 helpers = ChildrenCpu(before, after);
    const qint64 cpu = after.own - before.own + helpers;
    std::fprintf(stderr, "%s, while waiting %d s: %zu loading helper(s), %.3f ms of CPU time in all\n",
                 qPrintable(run), seconds, after.children.size(), double(helpers) / 1e6);
    rows.push_back(Row{QStringLiteral("waiting between pictures, %1: CPU time per minute, its loading helper "
                                      "included (%2 s measured)")
                           .arg(run)
                           .arg(seconds),
                       double(cpu) / 1e6 * 60.0 / seconds, 0, QStringLiteral("ms"),
                       QStringLiteral("<= 10 ms"), 0, 10.0});
    bool traced = false;
    std::vector<qint64> tracedPids{pid};
    for (const auto& [child, cpu] : after.children)
        tracedPids.push_back(child);
    const auto calls = SystemCalls(tracedPids, seconds, &traced);
    End(saver);
    if (!traced) {
        std::fprintf(stderr, "strace could not watch the program; its rows are left out\n");
        return;
    }
    for (const auto& [name, count] : calls)
        std::fprintf(stderr, "%s, while waiting %d s: %ld x %s\n", qPrintable(run), seconds, count,
                     qPrintable(name));
    const long files =
        Count(calls, {"open", "openat", "stat", "newfstatat", "statx", "lstat", "access", "getdents64"});
    const long requests = Count(calls, {"write", "writev", "sendmsg", "sendto"});
    const long all = std::accumulate(calls.begin(), calls.end(), 0L,
                                     [](long sum, const auto& call) { return sum + call.second; });
    rows.push_back(Row{QStringLiteral("waiting between pictures, %1: file calls and X requests in %2 s")
                           .arg(run)
                           .arg(seconds),
                       double(files + requests), 0, QString(), QStringLiteral("0"), 0, 0.0});
    // Each system call here is a wake-up of a thread that had nothing to do.
    rows.push_back(Row{QStringLiteral("waiting between pictures, %1: system calls per minute, its loading "
                                      "helper included (%2 s measured)")
                           .arg(run)
                           .arg(seconds),
                       double(all) * 60.0 / seconds, 0, QString(), QStringLiteral("<= 6"), 0, 6.0});
}

void WholeProgramFigures(const Context& context, std::vector<Row>& rows)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        std::fprintf(stderr,
                     "the whole program's figures need an X server (bench/run starts one); left out\n");
        return;
    }
    Setup setup;
    if (!setup.Make(context.corpus)) {
        std::fprintf(stderr, "cannot make the program's corpus; its figures are left out\n");
        return;
    }
    const QRgb background = CentrePixel();

    // Start-up to the first picture on screen, against the dialog's start-up to its window.
    std::vector<double> ours, reference;
    for (int i = 0; i < context.repetitions; ++i) {
        QProcess saver;
        const double toPicture = SecondsUntilShown(saver, context, setup, {QStringLiteral("/S")},
                                                   [&](QRgb pixel) { return Near(pixel, setup.colour); });
        End(saver);
        QProcess dialog;
        const double toDialog = SecondsUntilShown(dialog, context, setup, {QStringLiteral("/C")},
                                                  [&](QRgb pixel) { return pixel != background; });
        End(dialog);
        if (toPicture < 0 || toDialog < 0) {
            std::fprintf(stderr, "the program did not show its window; start-up figure left out\n");
            return;
        }
        ours.push_back(toPicture);
        reference.push_back(toDialog);
        for (int wait = 0; wait < 200 && CentrePixel() != background; ++wait)
            std::this_thread::sleep_for(10ms);
    }
    rows.push_back(
        Row{QStringLiteral("start-up to the first picture on screen, /S, one folder of one picture "
                           "(vs /C to its window)"),
            Median(ours) * 1000, Median(reference) * 1000, QStringLiteral("ms"), QString(), 0});

    // Waiting between pictures: the timer's ticks find nothing due.
    QProcess saver;
    if (SecondsUntilShown(saver, context, setup, {QStringLiteral("/S")},
                          [&](QRgb pixel) { return Near(pixel, setup.colour); }) < 0) {
        End(saver);
        return;
    }
    WaitingFigures(QStringLiteral("whole program"), saver, rows);

    // The same for a preview in a host as large as the screen, as XScreenSaver runs it: there the
    // preview is the screen saver. It also watches its host.
    QWidget host;
    host.setWindowFlag(Qt::FramelessWindowHint);
    host.setGeometry(QGuiApplication::primaryScreen()->geometry());
    host.show();
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(10ms);
    }
    QProcess preview;
    if (SecondsUntilShown(preview, context, setup, {QStringLiteral("/P"), QString::number(host.winId())},
                          [&](QRgb pixel) { return Near(pixel, setup.colour); }) < 0) {
        End(preview);
        std::fprintf(stderr, "the preview did not show its picture; its rows are left out\n");
        return;
    }
    WaitingFigures(QStringLiteral("preview filling a screen-sized host"), preview, rows);
}

} // namespace

// Start-up to the first picture from a warm index of VB_BENCH_INDEX_ENTRIES entries (all naming
// the folder's one picture, so that whichever is picked shows), against start-up on the folder
// of one picture without an index.
void WarmIndexFigures(const Context& context, std::vector<Row>& rows)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    Setup plain, warm;
    if (!plain.Make(context.corpus, QStringLiteral("plain")) ||
        !warm.Make(context.corpus, QStringLiteral("warm")))
        return;
    const qsizetype entries = qEnvironmentVariableIntValue("VB_BENCH_INDEX_ENTRIES") > 0
                                  ? qEnvironmentVariableIntValue("VB_BENCH_INDEX_ENTRIES")
                                  : 1000000;
    vb::PathList list;
    const quint32 folder = list.AddFolder(warm.pictures + u'/');
    QFile::rename(warm.pictures + QStringLiteral("/first.jpg"),
                  warm.pictures + QStringLiteral("/IMG_20240101_123456.jpg"));
    for (qsizetype i = 0; i < entries; ++i)
        list.Append(folder, "IMG_20240101_123456.jpg");
    const vb::PictureIndex index(warm.cache + QStringLiteral("/vellumbright"));
    const QRgb background = CentrePixel();
    const auto cleared = [&] {
        for (int wait = 0; wait < 200 && CentrePixel() != background; ++wait)
            std::this_thread::sleep_for(10ms);
    };
    std::vector<double> ours, reference;
    for (int i = 0; i < context.repetitions; ++i) {
        // Each run writes the list its walk found; the large one goes back before the next.
        if (!index.Save({warm.pictures}, {}, list))
            return;
        QDir(plain.cache).removeRecursively();
        const auto shown = [&](QRgb pixel) {
            return Near(pixel, plain.colour);
        };
        QProcess withIndex;
        const double fromIndex = SecondsUntilShown(withIndex, context, warm, {QStringLiteral("/S")}, shown);
        End(withIndex);
        cleared();
        QProcess without;
        const double fromFolder = SecondsUntilShown(without, context, plain, {QStringLiteral("/S")}, shown);
        End(without);
        cleared();
        if (fromIndex < 0 || fromFolder < 0) {
            std::fprintf(stderr, "the program did not show its picture; the warm-index figure is left out\n");
            return;
        }
        ours.push_back(fromIndex);
        reference.push_back(fromFolder);
    }
    rows.push_back(Row{QStringLiteral("start-up to the first picture on screen, /S, warm index of %1 entries "
                                      "(vs one folder of one picture, no index)")
                           .arg(QLocale::c().toString(qlonglong(entries))),
                       Median(ours) * 1000, Median(reference) * 1000, QStringLiteral("ms"),
                       QStringLiteral("<= 300 ms, <= 1.5 x"), 1.5, 300.0});
}

namespace {

// Milliseconds from a key to the end of a full-screen run of the folder `pictures`, taken once its
// window has been up for `settleMs`; negative on failure. xdotool is started ahead and reads its
// command from standard input, so that the time it takes to start and connect (10 to 20 ms here,
// several times that beside a build) is not the program's: the key is sent within a millisecond.
// `busy`: whether the loading helper was decoding when the key came (it used more than half a
// core in the 100 ms before).
double KeyToEndMilliseconds(const Context& context, const Setup& setup, const QString& pictures, int settleMs,
                            int programNice, bool* busy = nullptr)
{
    Setup run = setup;
    run.config = pictures + QStringLiteral("-config");
    QDir().mkpath(run.config);
    QFile ini(run.config + QStringLiteral("/Lanternshade.ini"));
    if (!ini.open(QIODevice::WriteOnly))
        return -1;
    ini.write(QStringLiteral("[Settings]\nNumDirs=1\nDir1=%1\nInterval=3600\n").arg(pictures).toUtf8());
    ini.close();
    QProcess saver;
    saver.setProcessEnvironment(run.Environment());
    saver.setStandardOutputFile(QProcess::nullDevice());
    saver.setStandardErrorFile(QProcess::nullDevice());
    // The program runs at the nice it would have had; only the measuring is raised (below).
    saver.setChildProcessModifier([nice = programNice] { setpriority(PRIO_PROCESS, 0, nice); });
    saver.start(context.program, {QStringLiteral("/S")});
    QProcess keys;
    keys.start(QStringLiteral("xdotool"), {QStringLiteral("-")});
    const auto visible = [] {
        return QProcess::execute(QStringLiteral("xdotool"),
                                 {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                  QStringLiteral("--classname"), QStringLiteral("vellumbright")}) == 0;
    };
    const auto start = std::chrono::steady_clock::now();
    while (!visible() && std::chrono::steady_clock::now() - start < 10s)
        std::this_thread::sleep_for(20ms);
    // The keyboard grab is retried every 100 ms until it holds.
    const auto watch = 100ms;
    std::this_thread::sleep_for(std::chrono::milliseconds(settleMs) - watch);
    const CpuSample before = SampleCpu(saver.processId());
    std::this_thread::sleep_for(watch);
    const CpuSample after = SampleCpu(saver.processId());
    if (busy)
        *busy = ChildrenCpu(before, after) > std::chrono::nanoseconds(watch).count() / 2;
    const auto key = std::chrono::steady_clock::now();
    keys.write("key --delay 0 x\n");
    keys.waitForBytesWritten(1000);
    const bool ended = saver.waitForFinished(5000);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - key).count();
    keys.closeWriteChannel();
    if (!keys.waitForFinished(2000))
        End(keys);
    End(saver);
    std::vector<qint64> helpers;
    for (const auto& [helper, cpu] : after.children)
        helpers.push_back(helper);
    // The helper ends when the program's end of its socket closes.
    if (!WaitUntilGone(helpers, 2s))
        std::fprintf(stderr, "a loading helper outlived its program by 2 s\n");
    return ended ? ms : -1;
}

// A key while a picture is being decoded ends the run as soon as one while nothing is.
void KeyWhileDecodingFigures(const Context& context, std::vector<Row>& rows)
{
    const QString big = context.corpus + QStringLiteral("/progressive");
    const QString small = context.corpus + QStringLiteral("/pictures");
    const QString photo = big + QStringLiteral("/progressive.jpg");
    if (!QFileInfo::exists(photo) || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    Setup setup;
    if (!setup.Make(context.corpus))
        return;
    const QSize size = QImageReader(photo).size();
    // How long the decode takes, so that the key surely comes while it runs.
    vb::PictureHolder holder;
    vb::ImageCanvas canvas;
    canvas.Resize(QSize(1920, 1080), 1.0);
    const double decodeSeconds = Seconds([&] {
        holder.Load(photo);
        canvas.PaintPicture(holder, (canvas.ScaleWidth() - holder.ScaleWidth()) / 2,
                            (canvas.ScaleHeight() - holder.ScaleHeight()) / 2);
    });
    const int settleMs = 300;
    // The measuring thread, and xdotool, which it starts and which stands for the keyboard, run ten
    // steps above the program where they may (as root): beside a build, waking the measurer when
    // the program had ended added 15 to 20 ms of its own to the figure (seen with the kernel's
    // process-exit events), and xdotool waking for the key up to 10 ms.
    errno = 0;
    const int programNice = getpriority(PRIO_PROCESS, 0);
    const bool raised = errno == 0 && setpriority(PRIO_PROCESS, 0, programNice - 10) == 0;
    const auto lowerAgain = qScopeGuard([raised, programNice] {
        if (raised)
            setpriority(PRIO_PROCESS, 0, programNice);
    });
    std::vector<double> ours, reference;
    int decoding = 0;
    // At least twenty keys, whatever the repetitions, for the maximum to mean something; the tiny
    // bench only checks that it runs.
    const int keys = qEnvironmentVariableIsSet("VB_BENCH_TINY") ? 4 * context.repetitions
                                                                : std::max(20, 4 * context.repetitions);
    for (int i = 0; i < keys; ++i) {
        bool busy = false;
        ours.push_back(KeyToEndMilliseconds(context, setup, big, settleMs, programNice, &busy));
        decoding += busy ? 1 : 0;
        reference.push_back(KeyToEndMilliseconds(context, setup, setup.pictures, settleMs, programNice));
        if (ours.back() < 0 || reference.back() < 0) {
            std::fprintf(stderr, "a run did not end on its key; the key figures are left out\n");
            return;
        }
    }
    std::fprintf(stderr,
                 "decoding the %dx%d progressive JPEG takes %.0f ms; the key came %d ms after the window; "
                 "measured %s\n",
                 size.width(), size.height(), decodeSeconds * 1000, settleMs,
                 raised ? "ten steps above the program" : "at the program's own priority");
    // The loading helper decodes; a key that came when it was not is not the figure's.
    std::fprintf(stderr, "the loading helper was decoding at the key in %d of %zu runs\n", decoding,
                 ours.size());
    if (decoding < int(ours.size()))
        std::fprintf(stderr, "the key figures with a decode are not what they say\n");
    const QString figure =
        QStringLiteral("key to the end of the run while a %1x%2 progressive JPEG decodes, %3 of %4 "
                       "(vs nothing decoding)")
            .arg(size.width())
            .arg(size.height());
    rows.push_back(Row{figure.arg(QStringLiteral("median")).arg(ours.size()), Median(ours), Median(reference),
                       QStringLiteral("ms"), QStringLiteral("<= 50 ms"), 0, 50.0});
    rows.push_back(Row{figure.arg(QStringLiteral("maximum")).arg(ours.size()),
                       *std::max_element(ours.begin(), ours.end()),
                       *std::max_element(reference.begin(), reference.end()), QStringLiteral("ms"),
                       QStringLiteral("<= 50 ms"), 0, 50.0});
}

} // namespace

namespace {

// The peak resident memory of a process (VmHWM), in megabytes; negative when it cannot be read.
double PeakMegabytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    return -1;
}

} // namespace

// The peak memory of the program and of its loading helper, each in its own row, at the end of a
// full-screen run that shows the large photo (and has made it ready again ahead, for its next
// change).
void HelperPeakMemoryFigures(const Context& context, std::vector<Row>& rows)
{
    const QString photo = context.corpus + QStringLiteral("/pictures/photo.jpg");
    Setup setup;
    if (!QFileInfo::exists(photo) || QGuiApplication::platformName() != QLatin1String("xcb") ||
        !setup.Make(context.corpus, QStringLiteral("helper-memory")))
        return;
    QFile::remove(setup.pictures + QStringLiteral("/first.jpg"));
    QFile::copy(photo, setup.pictures + QStringLiteral("/photo.jpg"));
    const QRgb background = CentrePixel();
    std::vector<double> saverPeaks, helperPeaks;
    for (int i = 0; i < context.repetitions; ++i) {
        QProcess saver;
        if (SecondsUntilShown(saver, context, setup, {QStringLiteral("/S")},
                              [&](QRgb pixel) { return pixel != background; }) < 0) {
            End(saver);
            std::fprintf(stderr,
                         "the program did not show the photo; the helper's memory rows are left out\n");
            return;
        }
        // The next change's frame, made ready ahead, is the helper's too.
        std::this_thread::sleep_for(2s);
        const std::vector<qint64> helpers = ChildProcesses(saver.processId());
        saverPeaks.push_back(PeakMegabytes(saver.processId()));
        double helperPeak = -1;
        for (qint64 helper : helpers)
            helperPeak = std::max(helperPeak, PeakMegabytes(helper));
        helperPeaks.push_back(helperPeak);
        End(saver);
        WaitUntilGone(helpers, 2s);
        for (int wait = 0; wait < 200 && CentrePixel() != background; ++wait)
            std::this_thread::sleep_for(10ms);
        if (saverPeaks.back() < 0 || helperPeak < 0) {
            std::fprintf(stderr, "no peak memory of the program or its helper; its rows are left out\n");
            return;
        }
    }
    const QString figure = QStringLiteral("peak memory (VmHWM) of %1, /S showing a %2 JPEG full screen");
    const QSize size = QImageReader(photo).size();
    const QString text = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
    rows.push_back(Row{figure.arg(QStringLiteral("the program"), text), Median(saverPeaks), 0,
                       QStringLiteral("MB"), QString(), 0});
    rows.push_back(Row{figure.arg(QStringLiteral("its loading helper"), text), Median(helperPeaks), 0,
                       QStringLiteral("MB"), QString(), 0});
}

void ProgramFigures(const Context& context, std::vector<Row>& rows)
{
    NotDueTickFigures(rows);
    WholeProgramFigures(context, rows);
    KeyWhileDecodingFigures(context, rows);
}

} // namespace vbbench

namespace vbbench {

namespace {

// Context switches of a process, all its threads together: each is a wake-up or a preemption.
qint64 ContextSwitches(qint64 pid)
{
    return SumOverThreads(pid, QStringLiteral("status"), [](const QByteArray& text) {
        qint64 switches = 0;
        for (const QByteArray& line : text.split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
                switches += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        return switches;
    });
}

// Resident memory of a process, in MB.
double ResidentMegabytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

// The watcher's saver: its one child, once it runs.
qint64 SaverOf(qint64 watcher)
{
    const std::vector<qint64> children = ChildProcesses(watcher);
    return children.empty() ? 0 : children.front();
}

} // namespace

// The idle watcher on the X server of DISPLAY: what it costs while it waits (CPU time, wake-ups,
// system calls, resident memory), and how soon after the idle moment the saver's first picture is
// on screen, against the saver started directly.
void IdleFigures(const Context& context, std::vector<Row>& rows)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    Setup setup;
    if (!setup.Make(context.corpus, QStringLiteral("idle")))
        return;
    const int seconds = std::max(2, qEnvironmentVariableIntValue("VB_BENCH_IDLE_SECONDS"));
    const auto reset = [] {
        QProcess::execute(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("reset")});
    };

    // Waiting: an idle time far beyond the measurement.
    QProcess waiting;
    QProcessEnvironment env = setup.Environment();
    env.insert(QStringLiteral("VELLUMBRIGHT_IDLE_SECONDS"), QStringLiteral("36000"));
    waiting.setProcessEnvironment(env);
    waiting.setStandardOutputFile(QProcess::nullDevice());
    waiting.start(context.program, {QStringLiteral("--idle"), QStringLiteral("--verbose")});
    if (!waiting.waitForStarted() || waiting.waitForFinished(2000)) {
        std::fprintf(stderr, "the idle watcher did not start: %s\n",
                     waiting.readAllStandardError().constData());
        return;
    }
    const qint64 pid = waiting.processId();
    const qint64 cpuBefore = CpuNanoseconds(pid);
    const qint64 switchesBefore = ContextSwitches(pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = double(CpuNanoseconds(pid) - cpuBefore) / 1e6 * 60.0 / seconds;
    const double wakeups = double(ContextSwitches(pid) - switchesBefore) * 60.0 / seconds;
    const double resident = ResidentMegabytes(pid);
    bool traced = false;
    const auto calls = SystemCalls({pid}, seconds, &traced);
    End(waiting);
    std::fprintf(stderr, "idle watcher: %s\n", waiting.readAllStandardError().trimmed().constData());
    rows.push_back(
        Row{QStringLiteral("idle watcher waiting: CPU time per minute (%1 s measured)").arg(seconds), cpu, 0,
            QStringLiteral("ms"), QStringLiteral("<= 1 ms"), 0, 1.0});
    rows.push_back(Row{QStringLiteral("idle watcher waiting: wake-ups (context switches) per minute"),
                       wakeups, 0, QString(), QStringLiteral("<= 2"), 0, 2.0});
    rows.push_back(Row{QStringLiteral("idle watcher waiting: resident memory"), resident, 0,
                       QStringLiteral("MB"), QStringLiteral("<= 20 MB"), 0, 20.0});
    if (traced) {
        for (const auto& [name, count] : calls)
            std::fprintf(stderr, "idle watcher, while waiting %d s: %ld x %s\n", seconds, count,
                         qPrintable(name));
        rows.push_back(
            Row{QStringLiteral("idle watcher waiting: system calls in %1 s").arg(seconds),
                double(std::accumulate(calls.begin(), calls.end(), 0L,
                                       [](long sum, const auto& call) { return sum + call.second; })),
                0, QString(), QString(), 0});
    }

    // From the idle moment (the last input, `xset s reset`, plus the idle time) to the first
    // picture, against "/S" started directly.
    constexpr int IdleSeconds = 2;
    QProcess watcher;
    env.insert(QStringLiteral("VELLUMBRIGHT_IDLE_SECONDS"), QString::number(IdleSeconds));
    watcher.setProcessEnvironment(env);
    watcher.setStandardOutputFile(QProcess::nullDevice());
    watcher.setStandardErrorFile(QProcess::nullDevice());
    watcher.start(context.program, {QStringLiteral("--idle")});
    if (!watcher.waitForStarted())
        return;
    const QRgb background = CentrePixel();
    std::vector<double> ours, reference;
    for (int i = 0; i < context.repetitions; ++i) {
        std::this_thread::sleep_for(500ms);
        reset();
        const auto idleMoment = std::chrono::steady_clock::now() + std::chrono::seconds(IdleSeconds);
        double ms = -1;
        while (std::chrono::steady_clock::now() < idleMoment + 10s) {
            if (Near(CentrePixel(), setup.colour)) {
                ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - idleMoment)
                         .count();
                break;
            }
            std::this_thread::sleep_for(5ms);
        }
        const qint64 saver = SaverOf(watcher.processId());
        // Never 0 or below: kill() would reach a whole process group, or every process.
        if (saver > 1) {
            std::vector<qint64> processes = ChildProcesses(saver);
            processes.push_back(saver);
            ::kill(pid_t(saver), SIGTERM);
            WaitUntilGone(processes, 5s);
        }
        for (int wait = 0; wait < 200 && CentrePixel() != background; ++wait)
            std::this_thread::sleep_for(10ms);
        QProcess direct;
        const double toPicture = SecondsUntilShown(direct, context, setup, {QStringLiteral("/S")},
                                                   [&](QRgb pixel) { return Near(pixel, setup.colour); });
        End(direct);
        for (int wait = 0; wait < 200 && CentrePixel() != background; ++wait)
            std::this_thread::sleep_for(10ms);
        if (ms < 0 || toPicture < 0) {
            std::fprintf(stderr, "the saver did not show its picture; the idle figure is left out\n");
            End(watcher);
            return;
        }
        ours.push_back(ms);
        reference.push_back(toPicture * 1000);
    }
    End(watcher);
    rows.push_back(
        Row{QStringLiteral("idle moment to the first picture on screen, by the idle watcher (vs /S "
                           "started directly, to its picture)"),
            Median(ours), Median(reference), QStringLiteral("ms"), QString(), 0});
}

} // namespace vbbench
