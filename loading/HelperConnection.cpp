#include "loading/HelperConnection.h"

#include "loading/FrameMemory.h"
#include "loading/HelperMessages.h"
#include "loading/HelperProcess.h"
#include "platform/runtime/MainThreadPost.h"
#include "platform/runtime/RuntimeError.h"

#include <QDir>
#include <QFileInfo>

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
// Folders that links lead to, let read in a run: a helper gone wrong cannot have helpers started
// without end by naming folder after folder.
constexpr int MaxLinksFollowed = 256;

using Clock = std::chrono::steady_clock;

} // namespace

struct HelperConnection::Helper
{
    Helper(const HelperConnection::Options& options, bool first, const QStringList& folders)
        : process(options.program, options.decodeLimitMegabytes, first, folders, options.sharedStreams),
          socket(process.Socket())
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
    QString target;
};

HelperConnection::HelperConnection(Options options)
    : m_options(std::move(options)), m_leftBehind(std::make_unique<LeftBehindHelpers>())
{
    for (const QString& folder : m_options.folders)
        if (const QString clean = QDir::cleanPath(folder); !helper::FolderWithin(clean, m_folders))
            m_folders.append(clean);
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
    // A folder wanted replaces those below it.
    for (const QString& folder : std::as_const(m_wanted)) {
        m_folders.removeIf([&folder](const QString& had) { return helper::FolderWithin(had, {folder}); });
        m_folders.append(folder);
    }
    m_wanted.clear();
    m_widened.notify_all();
    auto helper = std::make_shared<Helper>(m_options, m_started == 0, m_folders);
    if (!helper->process.Started() || helper->wake < 0)
        return nullptr;
    ++m_started;
    m_helper = helper;
    std::thread([this, helper] { Read(helper); }).detach();
    return helper;
}

void HelperConnection::Reach(const QString& folder, bool now, std::unique_lock<std::mutex>& lock)
{
    if (helper::FolderWithin(folder, m_folders) || helper::FolderWithin(folder, m_wanted))
        return;
    m_wanted.append(folder);
    if (!m_helper)
        return;
    if (now) {
        Retire(m_helper);
        CurrentHelper(lock);
    } else {
        const quint64 one = 1;
        (void)!write(m_helper->wake, &one, sizeof(one));
    }
}

// With the lock held (`helper` a copy: it may be m_helper itself). New requests go to the next
// helper; this one ends once it has answered.
void HelperConnection::Retire(std::shared_ptr<Helper> helper)
{
    if (m_helper == helper)
        m_helper = nullptr;
    const quint64 one = 1;
    (void)!write(helper->wake, &one, sizeof(one));
}

// A link's target as a helper names it: it cannot be checked here without opening the folder, so
// nothing is let read through it that holds the user's own keys and settings (the home folder
// whole, a hidden folder such as ~/.ssh or ~/.config) or the whole system.
bool HelperConnection::MayFollow(const QString& target)
{
    if (!QDir::isAbsolutePath(target) || QDir::cleanPath(target) != target ||
        helper::FolderWithin(QDir::homePath(), {target}) || target.contains(QLatin1String("/.")) ||
        m_linksFollowed >= MaxLinksFollowed)
        return false;
    ++m_linksFollowed;
    return true;
}

// With the lock held, on the reader's thread. A picture behind a link that no listing of this run
// has met yet (the index offered it first): asked again of a helper that may read where it leads.
bool HelperConnection::FollowFrame(quint64 id, const helper::FrameAnswer& answer, int fd,
                                   std::unique_lock<std::mutex>& lock)
{
    helper::CloseQuietly(fd);
    const auto pending = m_frames.find(id);
    const bool follow =
        answer.size.isEmpty() && pending->second.attempts < MaxAttempts && MayFollow(answer.elsewhere);
    if (follow)
        Reach(answer.elsewhere, true, lock);
    const std::shared_ptr<Helper> next = follow ? CurrentHelper(lock) : nullptr;
    if (!next || !SendFrame(next, id, pending->second)) {
        Deliver(std::move(pending->second), Frame{});
        m_frames.erase(pending);
    }
    return true;
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
    // Frames are asked for on the window thread: a helper started here has its priority.
    Reach(QFileInfo(QDir::cleanPath(request.path)).path(), true, lock);
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
    std::shared_ptr<Listing> listing = ListOnce(folder, subfolders, wanted, found, subfolder);
    // A link to a folder elsewhere: listed again by a helper that may read where it leads (once:
    // that helper lists it, or it cannot be listed).
    if (listing->status == helper::ListStatus::Elsewhere && !listing->delivered) {
        bool follow = false;
        {
            std::unique_lock lock(m_mutex);
            follow = MayFollow(listing->target);
            if (follow)
                Reach(listing->target, false, lock);
        }
        if (follow)
            listing = ListOnce(folder, subfolders, wanted, found, subfolder);
    }
    switch (listing->status) {
    case helper::ListStatus::Missing:
        return std::nullopt;
    case helper::ListStatus::Unreadable:
    case helper::ListStatus::Elsewhere:
        throw RuntimeError(ErrorCode(listing->code ? listing->code : qint32(ErrorCode::DeviceIO)),
                           listing->error.isEmpty() ? QStringLiteral("cannot list folder \"%1\"").arg(folder)
                                                    : listing->error);
    case helper::ListStatus::Listed:
        break;
    }
    return listing->own;
}

std::shared_ptr<HelperConnection::Listing>
HelperConnection::ListOnce(const QString& folder, bool subfolders, const DirectoryLister::Wanted& wanted,
                           const DirectoryLister::Found& found, const DirectoryLister::FoundFolder& subfolder)
{
    auto listing = std::make_shared<Listing>();
    listing->folder = folder;
    listing->subfolders = subfolders;
    std::unique_lock lock(m_mutex);
    const quint64 id = ++m_lastId;
    Reach(QDir::cleanPath(folder), false, lock);
    m_widened.wait(lock, [this] { return m_wanted.isEmpty() || !m_helper; });
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
    return listing;
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
        if (!answer->elsewhere.isEmpty())
            return FollowFrame(id, *answer, fd, lock);
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
        listing->target = end->target;
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
            std::unique_lock lock(m_mutex);
            if (helper->ended)
                return;
            if (helper == m_helper && !m_wanted.isEmpty()) {
                Retire(helper);
                CurrentHelper(lock);
            }
            if (helper != m_helper && helper->askedFrames.empty() && helper->askedListings.empty()) {
                // Retired, and all it was asked is answered. Ended and waited for here, outside the
                // lock: only one that does not go at once counts among those left behind, which
                // would otherwise stop new helpers when several folders are added in a row.
                helper->ended = true;
                lock.unlock();
                helper->process.End();
                helper->process.EndedOnItsOwn();
                lock.lock();
                if (!helper->process.Reaped())
                    m_leftBehind->Add(helper->process.Pid());
                return;
            }
            Clock::time_point oldest = Clock::time_point::max();
            for (const quint64 id : helper->askedFrames)
                if (const auto frame = m_frames.find(id); frame != m_frames.end())
                    oldest = std::min(oldest, frame->second.sent);
            if (oldest != Clock::time_point::max()) {
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
    // Only what was asked of this helper: another may be serving the rest.
    const auto mine = [&](quint64 id) {
        return helper->askedFrames.contains(id) || helper->askedListings.contains(id);
    };
    if (hung && m_leftBehind->Reap() >= MaxLeftBehind) {
        // Kept: only the hung frames are given up.
        for (auto it = m_frames.begin(); it != m_frames.end();) {
            if (mine(it->first) && overdue(it->second)) {
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
        if (mine(it->first) && ((hung && overdue(it->second)) || it->second.attempts >= MaxAttempts)) {
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
        if (!mine(it->first)) {
            ++it;
        } else if (!next || !SendFrame(next, it->first, it->second)) {
            Deliver(std::move(it->second), Frame{});
            it = m_frames.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& [id, listing] : m_listings) {
        if (listing->done || !mine(id))
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
