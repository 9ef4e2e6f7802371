#pragma once

#include "picture/PictureLoader.h"
#include "platform/files/DirectoryLister.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sys/types.h>
#include <vector>

namespace vb {

class LeftBehindHelpers;
namespace helper {
struct FrameAnswer;
}

// The program's side of its loading helper (LoadingHelper): the one process that lists folders
// and reads and decodes pictures for every cover, the preview and the dialog, so that this
// process touches no picture file and no picture folder and always ends at once.
//
// A frame request never waits: its answer comes later on the window thread, or never (the tick
// gives up on it at its next change). A helper that dies is replaced at once; one that has left a
// frame unanswered for `hungAfter` is ended and replaced. The frame it was on gets no picture
// (the cross), the others and every listing under way go to the new helper. A helper stuck in a
// dead share is left behind, holding nothing of the program's, and ends when the share answers;
// a few such helpers at most: then the last one is kept.
//
// A helper reads only the folders it was started with. A folder asked for outside them starts a
// helper that may read it too; the one before serves what it was asked and ends. A link in a
// folder to a folder elsewhere comes back as that folder's real path, which is added the same way
// (this process never opens a picture folder to see for itself).
class HelperConnection
{
public:
    struct Options
    {
        // The program to start with LoadingHelperArgument.
        QString program;
        int decodeLimitMegabytes = 0;
        // The folders a helper may read from the start; each folder listed and each picture's
        // folder asked for is added as it comes (a helper that may read it replaces the current).
        QStringList folders{};
        // Tests only: helpers keep the program's session and standard streams.
        bool sharedStreams = false;
        // ThreadSanitizer makes our decoding code several times slower: a fitted 24-megapixel
        // photo on a loaded machine went past 4 s there and was given up at each try.
#if defined(__SANITIZE_THREAD__)
        std::chrono::milliseconds hungAfter{12000};
#else
        std::chrono::milliseconds hungAfter{4000};
#endif
    };

    explicit HelperConnection(Options options);
    // Never destroyed: its reader threads and the walks' listings use it to the end of the
    // process (it is made with new, and kept).
    ~HelperConnection() = delete;
    HelperConnection(const HelperConnection&) = delete;
    HelperConnection& operator=(const HelperConnection&) = delete;

    using FrameReceiver = std::function<void(Frame)>;
    // A cover's loader joins to ask for frames; its answers come on the application's thread,
    // until it leaves: no answer reaches it after Leave returns.
    quint64 Join();
    void Leave(quint64 client);
    // Asks for a frame for `client`, whose `receiver` gets it.
    void RequestFrame(const FrameRequest& request, quint64 client, FrameReceiver receiver);

    // Lists a folder through the helper, waiting on the calling thread; as DirectoryLister's
    // List (without subfolders) and ListWithSubfolders.
    std::optional<FolderId> List(const QString& folder, bool subfolders,
                                 const DirectoryLister::Wanted& wanted, const DirectoryLister::Found& found,
                                 const DirectoryLister::FoundFolder& subfolder);

    // The helper processes started so far (for the tests).
    int HelpersStarted() const;

private:
    struct Helper;
    struct PendingFrame
    {
        quint64 client = 0;
        FrameReceiver receiver;
        FrameRequest request;
        std::chrono::steady_clock::time_point sent;
        int attempts = 0;
    };
    struct Listing;

    std::shared_ptr<Helper> CurrentHelper(std::unique_lock<std::mutex>& lock);
    // With the lock held: whether a helper may read `folder`, adding it to the folders wanted when
    // not. `now`: the current helper is replaced on this thread; else by its reader, which has
    // the priority a helper is started with.
    void Reach(const QString& folder, bool now, std::unique_lock<std::mutex>& lock);
    void Retire(std::shared_ptr<Helper> helper);
    // Whether a helper may be let read a link's target that a helper reported.
    bool MayFollow(const QString& target);
    bool FollowFrame(quint64 id, const helper::FrameAnswer& answer, int fd,
                     std::unique_lock<std::mutex>& lock);
    std::shared_ptr<Listing> ListOnce(const QString& folder, bool subfolders,
                                      const DirectoryLister::Wanted& wanted,
                                      const DirectoryLister::Found& found,
                                      const DirectoryLister::FoundFolder& subfolder);
    bool SendFrame(const std::shared_ptr<Helper>& helper, quint64 id, PendingFrame& frame);
    bool SendListing(const std::shared_ptr<Helper>& helper, quint64 id, Listing& listing);
    void Read(std::shared_ptr<Helper> helper);
    // False when the packet breaks the protocol (the frame it answered, if any, has had its cross).
    bool Receive(const std::shared_ptr<Helper>& helper, QByteArray bytes, int fd);
    void Replace(const std::shared_ptr<Helper>& helper, bool hung, bool couldNotStart = false);
    void Deliver(PendingFrame frame, Frame answer);

    const Options m_options;
    mutable std::mutex m_mutex;
    std::shared_ptr<Helper> m_helper;
    const std::unique_ptr<LeftBehindHelpers> m_leftBehind;
    int m_started = 0;
    // Helpers in a row that could not start (or could not lock themselves down): after a few,
    // another is started only now and then.
    int m_failedInARow = 0;
    std::chrono::steady_clock::time_point m_lastStart{};
    quint64 m_lastId = 0;
    std::map<quint64, PendingFrame> m_frames;
    // The covers' loaders that have joined and not left.
    std::set<quint64> m_clients;
    quint64 m_lastClient = 0;
    std::map<quint64, std::shared_ptr<Listing>> m_listings;
    // The folders the current helper may read, and those the next one is to read as well.
    QStringList m_folders;
    QStringList m_wanted;
    std::condition_variable m_widened;
    int m_linksFollowed = 0;
};

} // namespace vb
