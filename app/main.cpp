#include "app/ApplicationWindows.h"
#include "app/CommandLine.h"
#include "app/SubMain.h"
#include "catalogue/PictureIndex.h"
#include "loading/HelperConnection.h"
#include "loading/HelperLoader.h"
#include "loading/HelperMessages.h"
#include "loading/LoadingHelper.h"
#include "picture/PictureHolder.h"
#include "platform/display/CursorCounter.h"
#include "platform/display/DisplayServer.h"
#include "platform/display/DisplaySession.h"
#include "platform/display/UncaughtError.h"
#include "platform/files/DirectoryLister.h"
#include "platform/files/InstanceRegistry.h"
#include "platform/runtime/DetachedThread.h"
#include "platform/runtime/RandomSource.h"
#include "platform/runtime/RuntimeError.h"
#include "settings/SettingsStore.h"
#include "state/ModuleState.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// Every way out of main comes through here. A picture or folder read still under way (perhaps
// hanging on a share that stopped answering) must neither hold up the end nor have the program's
// objects destroyed under it; the settings load starts such reads before the single-instance
// guard or a bad setting can end the run.
int Leave(int status)
{
    if (vb::DetachedThreadsRunning() > 0)
        vb::EndProcessNow(status);
    return status;
}

#ifdef VELLUMBRIGHT_TEST_HOOKS
// Test builds only: what code taken over in a decoder would try, each reported on standard error
// as "probe NAME allowed|refused". `other` is a process the test started for the helper to aim at;
// kill probes send signal 0, which only asks whether a signal would be let through.
void RunProbes(pid_t other)
{
    const auto report = [](const char* name, bool allowed) {
        std::fprintf(stderr, "probe %s %s\n", name, allowed ? "allowed" : "refused");
    };
    char typed = ' ';
    report("TIOCSTI on standard input", ioctl(0, TIOCSTI, &typed) == 0);
    const int tty = open("/dev/tty", O_RDONLY | O_CLOEXEC);
    report("open /dev/tty", tty >= 0);
    report("kill the program", other > 0 && kill(getppid(), 0) == 0);
    report("kill another process", other > 0 && kill(other, 0) == 0);
    report("kill -1", kill(-1, 0) == 0);
    report("pidfd_open", other > 0 && syscall(SYS_pidfd_open, other, 0) >= 0);
    char buffer[8];
    iovec local{buffer, sizeof buffer}, remote{reinterpret_cast<void*>(0x400000), sizeof buffer};
    // An address `other` may not have mapped: EFAULT still means the call was let through.
    report("process_vm_readv",
           other > 0 &&
               (syscall(SYS_process_vm_readv, other, &local, 1, &remote, 1, 0) >= 0 || errno == EFAULT));
    report("ptrace", other > 0 && ptrace(PTRACE_ATTACH, other, nullptr, nullptr) == 0);
    // unshare refuses a process of several threads, as this one is, whatever the filter says: a
    // child in a user namespace of its own asks the kernel for the same.
    bool newUser = unshare(CLONE_NEWUSER) == 0;
    if (!newUser) {
        const long child = syscall(SYS_clone, CLONE_NEWUSER | SIGCHLD, nullptr, nullptr, nullptr, 0);
        if (child == 0)
            _exit(0);
        newUser = child > 0;
        if (newUser)
            waitpid(pid_t(child), nullptr, 0);
    }
    report("unshare a user namespace", newUser);
    // User mode only: what the kernel lets any user have.
    constexpr int userModeOnly = 1;
    report("userfaultfd", syscall(SYS_userfaultfd, O_CLOEXEC | userModeOnly) >= 0);
    // The user's keys and settings, in the home folder the test made for the helper.
    for (const char* folder : {"/.ssh", "/.config"}) {
        const QByteArray path = QByteArray(std::getenv("HOME")) + folder;
        report(("open ~" + QByteArray(folder)).constData(),
               open(path.constData(), O_RDONLY | O_DIRECTORY) >= 0);
    }
    // To its own length: were it let through, nothing of what it holds is lost.
    struct stat errors
    {
    };
    report("ftruncate standard error", fstat(2, &errors) == 0 && ftruncate(2, errors.st_size) == 0);
    // Standard output is there to write on: only /dev/null may be behind it.
    struct stat out
    {
    };
    report("standard output other than /dev/null",
           fstat(1, &out) != 0 || !S_ISCHR(out.st_mode) || out.st_rdev != makedev(1, 3));
    const int memfd = memfd_create("probe", MFD_CLOEXEC);
    report("memfd grown to 1 GiB", memfd >= 0 && ftruncate(memfd, off_t(1) << 30) == 0);
    report("socket", socket(AF_UNIX, SOCK_STREAM, 0) >= 0);
    // A program started in its place says so itself.
    char* const argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                          const_cast<char*>("echo probe execve allowed >&2"), nullptr};
    execve("/bin/sh", argv, environ);
    report("execve", false);
}

// Test builds only: a listing that never ends, each part as full as the helper makes them.
[[noreturn]] void FloodListing(quint64 id)
{
    for (int n = 0;;) {
        QByteArray part = vb::helper::BeginListPart(id);
        while (part.size() < 48 * 1024)
            vb::helper::AppendListEntry(part, QByteArray::number(++n).append(".jpg").toStdString(), nullptr);
        if (!vb::helper::Send(vb::LoadingHelperSocket, part))
            for (;;)
                pause();
    }
}

// Test builds only: a picture or folder whose name asks for it ends or hangs the helper that
// reads it, or has it break the protocol as a helper taken over could, then hang: a packet of no
// kind, an answer to a request never made or of another kind (a frame for a listing), a frame of
// another size than asked; or send a listing without end.
void TestHook(const QString& path, quint64 id)
{
    using namespace vb::helper;
    const auto asks = [&path](const char* word) {
        return path.contains(QLatin1String(word));
    };
    if (asks("crash-the-helper")) {
        // As a decoder's fault ends it, without a sanitizer's report in between.
        std::signal(SIGSEGV, SIG_DFL);
        std::raise(SIGSEGV);
    }
    if (asks("flood-the-helper"))
        FloodListing(id);
    const bool breaks =
        asks("garble-the-helper") || asks("stray-answer") || asks("wrong-size") || asks("answer-as-frame");
    if (asks("garble-the-helper"))
        Send(vb::LoadingHelperSocket, QByteArray("\x09garbage"));
    else if (breaks)
        Send(vb::LoadingHelperSocket, EncodeFrameAnswer({asks("stray-answer") ? id + 1000 : id,
                                                         asks("wrong-size") ? QSize(2, 2) : QSize(),
                                                         8,
                                                         {},
                                                         false,
                                                         {}}));
    if (breaks || asks("hang-the-helper"))
        for (;;)
            pause();
    if (asks("probe-the-helper"))
        RunProbes(path.section(u'/', -1).toInt());
}
#endif

int RunHelper(int argc, char** argv)
{
    vb::LoadingHelperOptions options;
    options.socket = vb::LoadingHelperSocket;
    const int limit = argc > 2 ? std::atoi(argv[2]) : 0;
    options.decodeLimitMegabytes = limit > 0 ? limit : vb::PictureHolder::DefaultDecodeLimitMegabytes;
    options.first = argc > 3 && std::strcmp(argv[3], vb::LoadingHelperFirst) == 0;
    for (int i = 4; i < argc; ++i)
        options.folders.append(QFile::decodeName(argv[i]));
#ifdef VELLUMBRIGHT_TEST_HOOKS
    options.beforeLoad = TestHook;
    // A kernel with an older Landlock, or none, as the helper sees it; or one protection left
    // out, to see that the probes it holds back would succeed without it.
    if (const char* abi = std::getenv("VB_TEST_LANDLOCK_ABI"))
        options.landlockAbiAtMost = std::atoi(abi);
    const QByteArray off = qgetenv("VB_TEST_PROTECTION_OFF");
    options.withoutFilter = off == "filter";
    options.withoutLimits = off == "limits";
#endif
    return vb::RunLoadingHelper(options);
}

// `--idle`: becomes the idle watcher, a program of its own without widgets, so that what waits
// all day is small. It is found beside this program (the build tree), else where the package puts
// it; it starts this program, by its full path, for each show.
int RunIdleWatcher(int argc, char** argv)
{
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const QString folder = QFileInfo(self).path();
    QString watcher = folder + QStringLiteral("/vellumbright-idle");
    if (!QFileInfo(watcher).isExecutable())
        watcher = folder + QStringLiteral("/" VELLUMBRIGHT_IDLE_FROM_BINDIR);
    const QByteArray watcherPath = watcher.toLocal8Bit();
    const QByteArray selfPath = self.toLocal8Bit();
    std::vector<char*> arguments{const_cast<char*>(watcherPath.constData())};
    for (int i = 2; i < argc; ++i)
        arguments.push_back(argv[i]);
    arguments.push_back(const_cast<char*>("--saver"));
    arguments.push_back(const_cast<char*>(selfPath.constData()));
    arguments.push_back(nullptr);
    ::execv(watcherPath.constData(), arguments.data());
    std::fprintf(stderr, "vellumbright: cannot run the idle watcher %s: %s\n", watcherPath.constData(),
                 std::strerror(errno));
    return 1;
}

// The saver and the preview end as soon as their windows have closed and leave the rest to the
// kernel and the display server, which frees what the closed connection held (windows, grabs).
// Tearing down would first free the covers' shared-memory images page by page (about 10 ms here)
// and then have QApplication load the whole font configuration, which a run that draws no text
// never needed, only to free it again (20 to 30 ms): most of the time from the key to the end.
[[noreturn]] void EndWithoutTeardown(int status)
{
#if defined(__SANITIZE_ADDRESS__)
    // The leak check would otherwise run from exit(), which this skips.
    __lsan_do_leak_check();
#endif
    vb::EndProcessNow(status);
}

// The run itself, once the application exists. A saver or preview whose windows have closed ends
// here rather than returning.
int RunWindows(const QString& commandText, qint32 mode)
{
    vb::InstanceRegistry instances;
    instances.Register();
    const char* const modeNames[] = {"Configure", "ScreenSaver", "Preview"};
    vb::DisplaySession display(instances, QString::fromLatin1(modeNames[mode]));

    vb::StdRandomSource random;
    vb::SettingsStore store(vb::SettingsStore::DefaultFilePath());
    // Every folder and picture is read by the loading helper, so that nothing of this process
    // waits on a share; it lives as long as the process.
    auto* helper = new vb::HelperConnection(
        {QStringLiteral("/proc/self/exe"), vb::PictureHolder::DefaultDecodeLimitMegabytes});
    vb::SetPictureLoaderMaker([helper] { return std::make_unique<vb::HelperLoader>(*helper); });
    const vb::HelperDirectoryLister lister(*helper);
    const vb::PictureIndex index(vb::PictureIndex::DefaultFolder());
    // The catalogue PictureList comes from; the dialog's OK replaces it.
    vb::Catalogue catalogue;
    vb::StartupServices services{
        random,
        store,
        lister,
        [&instances] { return instances.PrevInstance(); },
        [&display](const QString& caption) { return display.FindWindow(caption); },
        [&display](vb::x11::WindowId host) { return display.ClientSize(host); },
        vb::ShowCursor,
        &index,
        &catalogue,
    };
    vb::ApplicationWindows windows(store, lister, random, &index, &catalogue);

    try {
        vb::SubMain(commandText, services, windows);
    } catch (const vb::EndRequest&) {
        return 0;
    } catch (const vb::RuntimeError& error) {
        vb::ReportUncaughtError(error, mode == vb::Configure);
        return 1;
    }
    // The windows are gone and the pointer is shown again when exec returns. The loading helper
    // ends by itself as soon as this process's end of its socket closes.
    const int status = QApplication::exec();
    if (mode != vb::Configure) {
        instances.Unregister();
        EndWithoutTeardown(status);
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], vb::LoadingHelperArgument) == 0)
        return RunHelper(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--idle") == 0)
        return RunIdleWatcher(argc, argv);

    // The command text is taken before QApplication removes the options it understands.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const QString commandText = vb::CommandText(arguments);
    // RunMode is set only after the settings have loaded; the command decides the display.
    const qint32 mode = vb::ClassifyCommand(vb::NormaliseCommand(commandText));

    try {
        vb::ChooseDisplayServer(mode == vb::Preview ? vb::DisplayNeed::ForeignX11Window
                                                    : vb::DisplayNeed::OwnWindows);
    } catch (const vb::RuntimeError& error) {
        vb::ReportUncaughtError(error, false);
        return Leave(1);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vellumbright"));
    QApplication::setApplicationVersion(QStringLiteral(VELLUMBRIGHT_VERSION));
    return Leave(RunWindows(commandText, mode));
}
