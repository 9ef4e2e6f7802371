#pragma once

#include "picture/PictureLoader.h"
#include "platform/files/DirectoryLister.h"

#include <QString>
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
class HelperConnection
{
public:
    struct Options
    {
        // The program to start with LoadingHelperArgument.
        QString program;
        int decodeLimitMegabytes = 0;
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
};

} // namespace vb
