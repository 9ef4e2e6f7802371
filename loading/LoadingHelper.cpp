#include "loading/LoadingHelper.h"

#include "loading/HelperProtocol.h"
#include "picture/FramePainter.h"
#include "picture/PictureHolder.h"
#include "platform/files/DirectoryLister.h"
#include "platform/runtime/DetachedThread.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/Sandbox.h"

#include <QDataStream>
#include <QFile>
#include <QIODevice>
#include <QLoggingCategory>
#include <cstdio>
#include <malloc.h>
#include <mutex>
#include <unistd.h>

namespace vb {

namespace {

// A listing's names go back in parts of about this size.
constexpr qsizetype ListPartBytes = 48 * 1024;

class Answers
{
public:
    explicit Answers(int socket) : m_socket(socket) {}

    void Send(const QByteArray& bytes, int fd = -1)
    {
        // Packets of several threads never interleave, but a frame's descriptor must leave with
        // its own answer.
        const std::lock_guard lock(m_mutex);
        helper::Send(m_socket, bytes, fd);
    }

private:
    int m_socket;
    std::mutex m_mutex;
};

void AnswerFrame(Answers& answers, const FrameRequest& request, const LoadingHelperOptions& options)
{
    if (options.beforeLoad)
        options.beforeLoad(request.path);
    int fd = -1;
    const QByteArray answer = helper::EncodeFrameDone(RenderFrame(request), &fd);
    answers.Send(answer, fd);
    if (fd >= 0)
        close(fd);
}

void AnswerListing(Answers& answers, quint64 id, const QString& folder, bool subfolders)
{
    QByteArray part;
    std::unique_ptr<QDataStream> out;
    const auto begin = [&] {
        part.clear();
        out = std::make_unique<QDataStream>(&part, QIODevice::WriteOnly);
        *out << quint8(helper::Kind::ListPart) << id;
    };
    const auto flushIfFull = [&] {
        if (part.size() >= ListPartBytes) {
            answers.Send(part);
            begin();
        }
    };
    begin();
    const auto wanted = [](std::string_view) {
        return true;
    };
    const auto found = [&](std::string_view name) {
        *out << quint8(0) << QByteArray(name.data(), qsizetype(name.size()));
        flushIfFull();
    };
    const auto foundFolder = [&](std::string_view name, FolderId folderId) {
        *out << quint8(1) << QByteArray(name.data(), qsizetype(name.size())) << folderId.device
             << folderId.inode;
        flushIfFull();
    };
    helper::ListStatus status = helper::ListStatus::Listed;
    FolderId own;
    QString error;
    qint32 code = 0;
    try {
        const PosixDirectoryLister lister;
        if (subfolders) {
            const std::optional<FolderId> listed =
                lister.ListWithSubfolders(folder, wanted, found, foundFolder);
            if (listed)
                own = *listed;
            else
                status = helper::ListStatus::Missing;
        } else {
            lister.List(folder, wanted, found);
        }
    } catch (const RuntimeError& failure) {
        status = helper::ListStatus::Unreadable;
        error = failure.cause();
        code = qint32(failure.code());
    } catch (const std::exception&) {
        status = helper::ListStatus::Unreadable;
    }
    if (part.size() > 9)
        answers.Send(part);
    QByteArray done;
    QDataStream end(&done, QIODevice::WriteOnly);
    end << quint8(helper::Kind::ListDone) << id << quint8(status) << own.device << own.inode << code << error;
    answers.Send(done);
}

void Serve(Answers& answers, helper::Packet packet, const LoadingHelperOptions& options)
{
    if (packet.fd >= 0)
        close(packet.fd);
    const helper::Kind kind = helper::KindOf(packet.bytes);
    if (kind == helper::Kind::Frame) {
        std::optional<FrameRequest> request = helper::DecodeFrameRequest(packet.bytes);
        if (!request)
            return;
        StartDetachedThread(
            [&answers, &options, request = std::move(*request)] { AnswerFrame(answers, request, options); });
    } else if (kind == helper::Kind::List) {
        QDataStream in(packet.bytes);
        quint8 ignored = 0;
        quint64 id = 0;
        QString folder;
        bool subfolders = false;
        in >> ignored >> id >> folder >> subfolders;
        if (in.status() != QDataStream::Ok)
            return;
        StartDetachedThread([&answers, id, folder, subfolders] {
            if (subfolders)
                LowerThisThreadPriority();
            AnswerListing(answers, id, folder, subfolders);
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
    // rules bind the threads started after them). Reading stays open everywhere: a chosen folder
    // may hold links to folders elsewhere, which the walk follows. Two pictures may decode at once
    // (the change due and the next, or two monitors), each up to the decode limit, with their
    // threads' stacks and the frames on top.
    const qint64 limitBytes = qint64(options.decodeLimitMegabytes) << 20;
    const qint64 base = AddressSpaceNow();
    try {
        EnterSandbox({{QStringLiteral("/")}, base > 0 ? base + 2 * limitBytes + (256 << 20) : 0});
    } catch (const RuntimeError& error) {
        std::fprintf(stderr, "vellumbright: the loading helper cannot lock itself down: %s\n",
                     qPrintable(error.cause()));
        return 1;
    }
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
