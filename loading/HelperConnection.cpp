#include "loading/HelperConnection.h"

#include "loading/FrameMemory.h"
#include "loading/HelperMessages.h"
#include "loading/HelperProcess.h"
#include "platform/runtime/MainThreadPost.h"
#include "platform/runtime/RuntimeError.h"

#include <algorithm>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace vb {

namespace {

// Helpers ended but not yet gone (each waits in a file system that stopped answering): beyond
// these, a helper with a hung frame is kept rather than ended, so that they cannot pile up.
constexpr size_t MaxLeftBehind = 3;
// A frame or a listing goes to this many helpers at most: one whose picture ends every helper
// that takes it gets the cross.
constexpr int MaxAttempts = 2;
constexpr int MaxFailedInARow = 3;
constexpr std::chrono::seconds RetryFailingAfter{10};
// A listing's parts: at most this many in all (about 190 MB of names, far beyond any folder), and
// this many waiting for the listing's thread before the reader waits for it to catch up, so that
// a helper cannot pile up the program's memory faster than a walk takes it.
constexpr int MaxListParts = 4096;
constexpr size_t MaxQueuedListParts = 64;

using Clock = std::chrono::steady_clock;

} // namespace

struct HelperConnection::Helper
{
    Helper(const QString& program, int decodeLimitMegabytes, bool first)
        : process(program, decodeLimitMegabytes, first), socket(process.Socket())
    {
    }
    ~Helper()
    {
        if (wake >= 0)
            close(wake);
    }
    HelperProcess process;
    const int socket;
    // Wakes the reader when a frame is asked for, so that it starts timing it.
    int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    bool ended = false;
    // The frames and listings asked of this helper and not answered yet, apart: anything else it
    // sends, a frame for a listing included, breaks the protocol.
    std::set<quint64> askedFrames, askedListings;
};

struct HelperConnection::Listing
{
    QString folder;
    bool subfolders = false;
    int attempts = 0;
    // The caller has had some of the names: a new helper cannot start the listing again.
    bool delivered = false;
    std::condition_variable changed;
    // Packets as they came, with where their entries start, read by the listing's own thread:
    // the reader only hands them on.
    std::deque<std::pair<QByteArray, qsizetype>> parts;
    bool done = false;
    int partsTaken = 0;
    helper::ListStatus status = helper::ListStatus::Listed;
    FolderId own;
    qint32 code = 0;
    QString error;
};

HelperConnection::HelperConnection(Options options)
    : m_options(std::move(options)), m_leftBehind(std::make_unique<LeftBehindHelpers>())
{
    // Started here, on the thread that makes the connection (the window thread), and replaced
    // from the helper's reader, a thread that thread started: a helper inherits the priority of
    // the thread that starts it, and one started from a walk would decode below its rank.
    std::unique_lock lock(m_mutex);
    CurrentHelper(lock);
}

int HelperConnection::HelpersStarted() const
{
    const std::lock_guard lock(m_mutex);
    return m_started;
}

std::shared_ptr<HelperConnection::Helper> HelperConnection::CurrentHelper(std::unique_lock<std::mutex>&)
{
    if (m_helper)
        return m_helper;
    if (m_leftBehind->Reap() > MaxLeftBehind ||
        (m_failedInARow >= MaxFailedInARow && Clock::now() - m_lastStart < RetryFailingAfter))
        return nullptr;
    m_lastStart = Clock::now();
    auto helper = std::make_shared<Helper>(m_options.program, m_options.decodeLimitMegabytes, m_started == 0);
    if (!helper->process.Started() || helper->wake < 0)
        return nullptr;
    ++m_started;
    m_helper = helper;
    std::thread([this, helper] { Read(helper); }).detach();
    return helper;
}

void HelperConnection::Deliver(PendingFrame frame, Frame answer)
{
    answer.id = frame.request.id;
    // On the window thread, unless the cover has left by then (which only that thread can do).
    PostToMainThread([this, client = frame.client, receiver = std::move(frame.receiver),
                      answer = std::move(answer)]() mutable {
        {
            const std::lock_guard lock(m_mutex);
            if (!m_clients.contains(client))
                return;
        }
        receiver(std::move(answer));
    });
}

bool HelperConnection::SendFrame(const std::shared_ptr<Helper>& helper, quint64 id, PendingFrame& frame)
{
    FrameRequest request = frame.request;
    request.id = id;
    frame.sent = Clock::now();
    ++frame.attempts;
    // Never waits: a helper that does not take its requests is replaced by the reader.
    if (!helper::Send(helper->socket, helper::EncodeFrameRequest(request), -1, false))
        return false;
    helper->askedFrames.insert(id);
    const quint64 one = 1;
    (void)!write(helper->wake, &one, sizeof(one));
    return true;
}

bool HelperConnection::SendListing(const std::shared_ptr<Helper>& helper, quint64 id, Listing& listing)
{
    ++listing.attempts;
    if (!helper::Send(helper->socket, helper::EncodeListRequest({id, listing.folder, listing.subfolders}), -1,
                      false))
        return false;
    helper->askedListings.insert(id);
    return true;
}

quint64 HelperConnection::Join()
{
    const std::lock_guard lock(m_mutex);
    m_clients.insert(++m_lastClient);
    return m_lastClient;
}

void HelperConnection::RequestFrame(const FrameRequest& request, quint64 client, FrameReceiver receiver)
{
    std::unique_lock lock(m_mutex);
    const quint64 id = ++m_lastId;
    PendingFrame frame{client, std::move(receiver), request, Clock::now(), 0};
    const std::shared_ptr<Helper> helper = CurrentHelper(lock);
    if (!helper || !SendFrame(helper, id, frame)) {
        Deliver(std::move(frame), Frame{});
        return;
    }
    m_frames.emplace(id, std::move(frame));
}

void HelperConnection::Leave(quint64 client)
{
    const std::lock_guard lock(m_mutex);
    m_clients.erase(client);
    std::erase_if(m_frames, [client](const auto& entry) { return entry.second.client == client; });
}

std::optional<FolderId> HelperConnection::List(const QString& folder, bool subfolders,
                                               const DirectoryLister::Wanted& wanted,
                                               const DirectoryLister::Found& found,
                                               const DirectoryLister::FoundFolder& subfolder)
{
    auto listing = std::make_shared<Listing>();
    listing->folder = folder;
    listing->subfolders = subfolders;
    std::unique_lock lock(m_mutex);
    const quint64 id = ++m_lastId;
    const std::shared_ptr<Helper> helper = CurrentHelper(lock);
    if (!helper || !SendListing(helper, id, *listing))
        throw RuntimeError(
            ErrorCode::DeviceIO,
            QStringLiteral("cannot list folder \"%1\": the loading helper cannot start").arg(folder));
    m_listings.emplace(id, listing);
    for (;;) {
        listing->changed.wait(lock, [&] { return listing->done || !listing->parts.empty(); });
        if (listing->parts.empty())
            break;
        std::deque<std::pair<QByteArray, qsizetype>> parts;
        parts.swap(listing->parts);
        listing->delivered = true;
        // The reader may wait for room.
        listing->changed.notify_all();
        lock.unlock();
        bool whole = true;
        for (const auto& [part, from] : parts) {
            whole = helper::ForEachListEntry(part, from, [&](std::string_view name, const FolderId* id) {
                if (id) {
                    if (subfolder)
                        subfolder(name, *id);
                } else if (!wanted || wanted(name)) {
                    found(name);
                }
            });
            if (!whole)
                break;
        }
        lock.lock();
        if (!whole) {
            // Only a helper gone wrong sends such a part: the folder counts as unreadable.
            listing->status = helper::ListStatus::Unreadable;
            listing->done = true;
            break;
        }
    }
    m_listings.erase(id);
    switch (listing->status) {
    case helper::ListStatus::Missing:
        return std::nullopt;
    case helper::ListStatus::Unreadable:
        throw RuntimeError(ErrorCode(listing->code ? listing->code : qint32(ErrorCode::DeviceIO)),
                           listing->error.isEmpty() ? QStringLiteral("cannot list folder \"%1\"").arg(folder)
                                                    : listing->error);
    case helper::ListStatus::Listed:
        break;
    }
    return listing->own;
}

bool HelperConnection::Receive(const std::shared_ptr<Helper>& helper, QByteArray bytes, int fd)
{
    // A helper that answers has started: the lock is taken once per packet for that and the rest.
    const quint64 id = helper::IdOf(bytes);
    const helper::Kind kind = helper::KindOf(bytes);
    if (kind == helper::Kind::FrameDone) {
        const std::optional<helper::FrameAnswer> answer = helper::DecodeFrameAnswer(bytes);
        std::unique_lock lock(m_mutex);
        m_failedInARow = 0;
        // Matched to its request before anything of it is mapped.
        if (!answer || helper->askedFrames.erase(answer->id) == 0) {
            helper::CloseQuietly(fd);
            return false;
        }
        const auto pending = m_frames.find(id);
        if (pending == m_frames.end()) {
            // Its cover has left.
            helper::CloseQuietly(fd);
            return true;
        }
        PendingFrame taken = std::move(pending->second);
        m_frames.erase(pending);
        if (!answer->size.isEmpty() && answer->size != helper::FrameSize(taken.request)) {
            helper::CloseQuietly(fd);
            Deliver(std::move(taken), Frame{});
            return false;
        }
        // Mapped outside the lock: a large frame is a few milliseconds.
        lock.unlock();
        Frame frame{id, helper::MapFrame(*answer, fd), answer->dateTaken, answer->missing};
        lock.lock();
        Deliver(std::move(taken), std::move(frame));
        return true;
    }
    helper::CloseQuietly(fd);
    std::optional<helper::ListEnd> end;
    if (kind == helper::Kind::ListDone) {
        end = helper::DecodeListDone(bytes);
        if (!end)
            return false;
    } else if (kind != helper::Kind::ListPart) {
        return false;
    }
    // Its entries read through once here, so that only whole ones reach the listing's thread.
    const qsizetype from = end ? end->entriesFrom : helper::ListHeaderBytes;
    if (!helper::ForEachListEntry(bytes, from, [](std::string_view, const FolderId*) {}))
        return false;
    std::unique_lock lock(m_mutex);
    m_failedInARow = 0;
    if (!helper->askedListings.contains(id))
        return false;
    if (end)
        helper->askedListings.erase(id);
    const auto pending = m_listings.find(id);
    if (pending == m_listings.end())
        return true;
    const std::shared_ptr<Listing> listing = pending->second;
    if (listing->done)
        return true;
    if (++listing->partsTaken > MaxListParts)
        return false;
    listing->changed.wait(
        lock, [&] { return listing->parts.size() < MaxQueuedListParts || listing->done || helper->ended; });
    if (listing->done || helper->ended)
        return true;
    if (end) {
        listing->status = end->status;
        listing->own = end->own;
        listing->code = end->code;
        listing->error = end->error;
        listing->done = true;
    }
    if (from < bytes.size())
        listing->parts.emplace_back(std::move(bytes), from);
    listing->changed.notify_all();
    return true;
}

void HelperConnection::Read(std::shared_ptr<Helper> helper)
{
    for (;;) {
        int timeout = -1;
        {
            const std::lock_guard lock(m_mutex);
            if (helper->ended)
                return;
            if (!m_frames.empty()) {
                Clock::time_point oldest = Clock::time_point::max();
                for (const auto& [id, frame] : m_frames)
                    oldest = std::min(oldest, frame.sent);
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    oldest + m_options.hungAfter - Clock::now());
                if (left.count() <= 0) {
                    // Replace may keep this helper: then it went on without the hung frames.
                    Replace(helper, true);
                    continue;
                }
                timeout = int(std::min<qint64>(left.count() + 1, 60 * 1000));
            }
        }
        pollfd watched[] = {{helper->socket, POLLIN, 0}, {helper->wake, POLLIN, 0}};
        const int ready = poll(watched, 2, timeout);
        if (ready < 0 && errno != EINTR) {
            const std::lock_guard lock(m_mutex);
            Replace(helper, false);
            return;
        }
        if (watched[1].revents & POLLIN) {
            quint64 count;
            (void)!read(helper->wake, &count, sizeof(count));
        }
        if (watched[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            std::optional<helper::Packet> packet = helper::Receive(helper->socket);
            if (!packet) {
                const bool couldNotStart = helper->process.EndedOnItsOwn();
                const std::lock_guard lock(m_mutex);
                Replace(helper, false, couldNotStart);
                return;
            }
            if (!Receive(helper, std::move(packet->bytes), packet->fd)) {
                // A helper that breaks the protocol is not trusted with anything more.
                const std::lock_guard lock(m_mutex);
                Replace(helper, false);
                return;
            }
        }
    }
}

// Called with the lock held, on the helper's reader. `hung`: a frame has waited too long (the
// helper may still be alive); else the helper has gone, `couldNotStart` telling whether it failed
// to start.
void HelperConnection::Replace(const std::shared_ptr<Helper>& helper, bool hung, bool couldNotStart)
{
    const Clock::time_point now = Clock::now();
    const auto overdue = [&](const PendingFrame& frame) {
        return now - frame.sent >= m_options.hungAfter;
    };
    if (hung && m_leftBehind->Reap() >= MaxLeftBehind) {
        // Kept: only the hung frames are given up.
        for (auto it = m_frames.begin(); it != m_frames.end();) {
            if (overdue(it->second)) {
                Deliver(std::move(it->second), Frame{});
                it = m_frames.erase(it);
            } else {
                ++it;
            }
        }
        return;
    }
    helper->ended = true;
    m_failedInARow = couldNotStart ? m_failedInARow + 1 : 0;
    if (m_helper == helper)
        m_helper = nullptr;
    // Its socket and wake stay open until the reader, the last to hold it, lets it go.
    helper->process.EndInto(*m_leftBehind);

    // The hung frames, and those that have ended a helper before, get the cross; the rest and the
    // listings go to a new helper.
    for (auto it = m_frames.begin(); it != m_frames.end();) {
        if ((hung && overdue(it->second)) || it->second.attempts >= MaxAttempts) {
            Deliver(std::move(it->second), Frame{});
            it = m_frames.erase(it);
        } else {
            ++it;
        }
    }
    std::unique_lock<std::mutex> held(m_mutex, std::adopt_lock);
    const std::shared_ptr<Helper> next = CurrentHelper(held);
    held.release();
    for (auto it = m_frames.begin(); it != m_frames.end();) {
        if (!next || !SendFrame(next, it->first, it->second)) {
            Deliver(std::move(it->second), Frame{});
            it = m_frames.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& [id, listing] : m_listings) {
        if (listing->done)
            continue;
        // What the old helper listed and the caller has not had yet is dropped: the new one lists
        // the folder whole.
        listing->parts.clear();
        if (listing->delivered || listing->attempts >= MaxAttempts || !next ||
            !SendListing(next, id, *listing)) {
            listing->status = helper::ListStatus::Unreadable;
            listing->code = qint32(ErrorCode::DeviceIO);
            listing->error =
                QStringLiteral("cannot list folder \"%1\": the loading helper ended").arg(listing->folder);
            listing->done = true;
        }
        listing->changed.notify_all();
    }
}

} // namespace vb
