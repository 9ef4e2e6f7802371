#include "loading/LoadingHelper.h"

#include "loading/FrameMemory.h"
#include "loading/HelperMessages.h"
#include "loading/Sandbox.h"
#include "picture/FramePainter.h"
#include "picture/PictureHolder.h"
#include "platform/files/DirectoryLister.h"
#include "platform/files/PictureNames.h"
#include "platform/runtime/DetachedThread.h"
#include "platform/runtime/RuntimeError.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QLoggingCategory>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <malloc.h>
#include <mutex>
#include <unistd.h>

namespace vb {

namespace {

// Descriptors at once: the socket and standard error, a listing's folder on each listing thread,
// a frame's memfd on each frame's thread and the few kept for the next frames, a library or
// plugin being loaded.
constexpr int MaxOpenFiles = 256;

// A listing's names go back in parts of about this size.
constexpr qsizetype ListPartBytes = 48 * 1024;

class Answers
{
public:
    explicit Answers(int socket) : m_socket(socket) {}

    void Send(const QByteArray& bytes, int fd = -1)
    {
        // No lock: a socket of packets takes each packet whole, its descriptor with it, whichever
        // threads send at once, so listings and frames never wait on each other here.
        helper::Send(m_socket, bytes, fd);
    }

private:
    const int m_socket;
};

// The folders the helper may read, as their links resolve: where Landlock granted it.
QStringList& ReadableFolders()
{
    static QStringList folders;
    return folders;
}

// A picture that could not be read because its folder leads out of the readable folders (a link to
// a folder elsewhere, met first in the index rather than in a listing): the folder's real path.
QString Elsewhere(const FrameRequest& request, const Frame& frame)
{
    if (!frame.image.isNull() || frame.missing)
        return {};
    const QString target = QFileInfo(QFileInfo(request.path).path()).canonicalFilePath();
    return target.isEmpty() || helper::FolderWithin(target, ReadableFolders()) ? QString() : target;
}

void AnswerFrame(Answers& answers, const FrameRequest& request, const LoadingHelperOptions& options)
{
    if (options.beforeLoad)
        options.beforeLoad(request.path, request.id);
    int fd = -1;
    // Drawn straight into the memfd the answer passes on.
    helper::FrameMemory memory;
    // A statement of its own: the request's copy, whose canvas shares the image, is gone after it.
    Frame frame = RenderFrame(request, [&memory](QSize size) { return memory.Make(size); });
    if (QString target = Elsewhere(request, frame); !target.isEmpty()) {
        answers.Send(helper::EncodeFrameAnswer({request.id, QSize(), 0, {}, false, std::move(target)}));
        return;
    }
    const QSize size = frame.image.size();
    const QByteArray answer = memory.Encode(std::move(frame), &fd);
    answers.Send(answer, fd);
    if (fd >= 0) {
        close(fd);
        // After the answer, so that the next frame of this size finds its memory made.
        helper::FrameMemory::PrepareNext(size);
    }
}

// A folder that cannot be listed because it leads out of the readable folders (a link to a folder
// elsewhere): its real path goes to the program, which may start a helper that can read it.
void ExplainFailure(const QString& folder, helper::ListEnd& end)
{
    const QString target = QFileInfo(folder).canonicalFilePath();
    if (!target.isEmpty() && !helper::FolderWithin(target, ReadableFolders())) {
        end.status = helper::ListStatus::Elsewhere;
        end.target = target;
    }
}

void AnswerListing(Answers& answers, quint64 id, const QString& folder, bool subfolders,
                   const LoadingHelperOptions& options)
{
    if (options.beforeLoad)
        options.beforeLoad(folder, id);
    QByteArray part = helper::BeginListPart(id);
    const auto flushIfFull = [&] {
        if (part.size() >= ListPartBytes) {
            answers.Send(part);
            part = helper::BeginListPart(id);
        }
    };
    // Only names that can be pictures cross: most of a photo archive is sidecars and others.
    const auto wanted = [](std::string_view name) {
        return PicturePatternIndex(name, true) >= 0;
    };
    const auto found = [&](std::string_view name) {
        helper::AppendListEntry(part, name, nullptr);
        flushIfFull();
    };
    const auto foundFolder = [&](std::string_view name, FolderId folderId) {
        helper::AppendListEntry(part, name, &folderId);
        flushIfFull();
    };
    helper::ListEnd end;
    try {
        const PosixDirectoryLister lister;
        if (subfolders) {
            const std::optional<FolderId> listed =
                lister.ListWithSubfolders(folder, wanted, found, foundFolder);
            if (listed)
                end.own = *listed;
            else
                end.status = helper::ListStatus::Missing;
        } else {
            lister.List(folder, wanted, found);
        }
    } catch (const RuntimeError& failure) {
        end.status = helper::ListStatus::Unreadable;
        end.error = failure.cause();
        end.code = qint32(failure.code());
        ExplainFailure(folder, end);
    } catch (const std::exception&) {
        end.status = helper::ListStatus::Unreadable;
    }
    bool tookPart = false;
    const QByteArray done = helper::EncodeListDone(id, end, part, &tookPart);
    if (!tookPart && !helper::ListPartEmpty(part))
        answers.Send(part);
    answers.Send(done);
}

// Listings run on threads kept for the helper's life, one more whenever all are busy (some may
// wait in a share that stopped answering): a walk lists thousands of folders, and a thread
// started and ended for each cost more than the listing, as its end hands its stack back to the
// kernel, which interrupts every CPU to flush its TLB.
class ListingThreads
{
public:
    explicit ListingThreads(bool lowest) : m_lowest(lowest) {}

    void Run(std::function<void()> job)
    {
        std::unique_lock lock(m_mutex);
        m_jobs.push_back(std::move(job));
        // Each job waiting has a thread of its own to take it: none waits behind a hung one.
        if (qsizetype(m_jobs.size()) <= m_idle) {
            m_wake.notify_one();
            return;
        }
        ++m_idle;
        lock.unlock();
        try {
            StartDetachedThread([this] { Serve(); });
        } catch (...) {
            // The job stays queued for the next thread that can be had.
            lock.lock();
            --m_idle;
            throw;
        }
    }

private:
    void Serve()
    {
        if (m_lowest)
            LowerThisThreadPriority();
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return !m_jobs.empty(); });
            std::function<void()> job = std::move(m_jobs.front());
            m_jobs.pop_front();
            --m_idle;
            lock.unlock();
            job();
            job = nullptr;
            lock.lock();
            ++m_idle;
        }
    }

    const bool m_lowest;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    // Threads waiting for a job, and those started that have not taken their first.
    qsizetype m_idle = 0;
};

void Serve(Answers& answers, helper::Packet packet, const LoadingHelperOptions& options)
{
    if (packet.fd >= 0)
        close(packet.fd);
    const helper::Kind kind = helper::KindOf(packet.bytes);
    if (kind == helper::Kind::Frame) {
        std::optional<FrameRequest> request = helper::DecodeFrameRequest(packet.bytes);
        if (!request)
            return;
        // At the helper's own nice, the window thread's that started it: ten steps below, a frame
        // waited behind any other work of the same scheduling group, and a change took 1.5 x the
        // same change made in the program (4 to 5 x beside two busy processes). Batch-scheduled,
        // it still gives way at once to the window thread when that wakes.
        StartDetachedThread(
            [&answers, &options, request = std::move(*request)] { AnswerFrame(answers, request, options); },
            DetachedPriority::Batch);
    } else if (kind == helper::Kind::List) {
        std::optional<helper::ListRequest> request = helper::DecodeListRequest(packet.bytes);
        if (!request)
            return;
        const bool subfolders = request->subfolders;
        // A walk through subfolders is the background's, below the single folders the dialog
        // and start-up wait for.
        static ListingThreads walks(true), folders(false);
        (subfolders ? walks : folders).Run([&answers, &options, request = std::move(*request)] {
            AnswerListing(answers, request.id, request.folder, request.subfolders, options);
        });
    }
}

// The address space the helper has before it reads anything: its libraries and first heap.
qint64 AddressSpaceNow()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

} // namespace

int RunLoadingHelper(const LoadingHelperOptions& options)
{
    // Each thread would reserve an arena of its own, address space the limit below counts.
    mallopt(M_ARENA_MAX, 2);
    // Locked down before the first request, and before any thread of its own (the file-system
    // rules bind the threads started after them). It reads only the folders it was given: a link
    // in one to a folder elsewhere is reported (ExplainFailure), and read by a helper given that
    // folder too. Two pictures may decode at once (the change due and the next, or two monitors),
    // each up to the decode limit, with their threads' stacks and the frames on top.
    const qint64 limitBytes = qint64(options.decodeLimitMegabytes) << 20;
    const qint64 base = options.withoutLimits ? 0 : AddressSpaceNow();
    for (const QString& folder : options.folders)
        if (const QString real = QFileInfo(folder).canonicalFilePath(); !real.isEmpty())
            ReadableFolders().append(real);
    SandboxApplied applied;
    try {
        SandboxRules rules{options.folders, base > 0 ? base + 2 * limitBytes + (256 << 20) : 0,
                           options.withoutLimits ? 0 : helper::MaxFrameBytes,
                           options.withoutLimits ? 0 : MaxOpenFiles};
        rules.landlockAbiAtMost = options.landlockAbiAtMost;
        rules.systemCallFilter = !options.withoutFilter;
        applied = EnterSandbox(rules);
    } catch (const RuntimeError& error) {
        std::fprintf(stderr, "vellumbright: the loading helper cannot lock itself down: %s\n",
                     qPrintable(error.cause()));
        return 1;
    }
    // Signals are fenced by Landlock from its sixth ABI (kernel 6.12); below it the filter alone
    // keeps signals to other processes, their descriptors and memory, and terminals away.
    if (options.first && applied.landlockAbi == 0)
        std::fprintf(stderr, "this kernel has no Landlock: the system-call filter alone confines this "
                             "process (no writes, signals, terminals or other processes)\n");
    else if (options.first && applied.landlockAbi < 6)
        std::fprintf(stderr,
                     "this kernel's Landlock (ABI %d) does not fence signals: the system-call filter "
                     "keeps them, terminals and other processes away\n",
                     applied.landlockAbi);
    PictureHolder::SetQtDecodeLimit(options.decodeLimitMegabytes);
    // A picture that cannot be shown gets the cross on the cover; Qt's decoders would also warn
    // on standard error. QT_LOGGING_RULES still turns them back on.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*.warning=false"));
    static Answers answers(options.socket);
    for (;;) {
        std::optional<helper::Packet> packet = helper::Receive(options.socket);
        // The program has gone: so does the helper, whatever its threads are waiting for.
        if (!packet)
            EndProcessNow(0);
        try {
            Serve(answers, std::move(*packet), options);
        } catch (const std::exception&) {
            // No thread to be had: the program gives up on the request at its next change.
        }
    }
}

} // namespace vb
