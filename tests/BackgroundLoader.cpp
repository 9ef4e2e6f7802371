#include "BackgroundLoader.h"

#include "picture/FramePainter.h"
#include "platform/runtime/DetachedThread.h"
#include "platform/runtime/MainThreadPost.h"

#include <QCoreApplication>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vb {

namespace {

constexpr qsizetype MaxWaitingPerFolder = 2;
// How long the application's end waits for frames still under way. A frame whose read hangs in
// the kernel holds it no longer: its thread has not reached the drawing.
constexpr std::chrono::seconds LongestWaitAtEnd{30};

// The frames under way on the loaders' threads, of every loader, gone or not. Drawing a frame uses
// what the application object owns (QPainter takes the application's font), so a thread still
// drawing as the application goes crashes: the application's end waits for them.
struct FramesUnderWay
{
    std::mutex mutex;
    std::condition_variable ended;
    int count = 0;
};

// Never destroyed: a thread left hanging may end its frame while the process exits.
FramesUnderWay& Underway()
{
    static auto* const frames = new FramesUnderWay;
    return *frames;
}

// Counts a frame from its request to the moment its thread has posted it.
class FrameUnderWay
{
public:
    FrameUnderWay()
    {
        const std::lock_guard lock(Underway().mutex);
        ++Underway().count;
    }
    ~FrameUnderWay()
    {
        const std::lock_guard lock(Underway().mutex);
        if (--Underway().count == 0)
            Underway().ended.notify_all();
    }
    FrameUnderWay(const FrameUnderWay&) = delete;
    FrameUnderWay& operator=(const FrameUnderWay&) = delete;
};

// Qt runs this first thing as the application object is destroyed, before any of it goes.
void WaitForFramesUnderWay()
{
    std::unique_lock lock(Underway().mutex);
    Underway().ended.wait_for(lock, LongestWaitAtEnd, [] { return Underway().count == 0; });
}

void WaitAtApplicationEnd()
{
    qAddPostRoutine(WaitForFramesUnderWay);
}

QString FolderOf(const QString& path)
{
    return path.left(path.lastIndexOf(u'/') + 1);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(WaitAtApplicationEnd)

// What a result that outlives the loader still reaches: the loader, until it is gone. Read and
// written on the window thread only.
struct BackgroundLoader::Shared
{
    BackgroundLoader* loader = nullptr;
};

BackgroundLoader::BackgroundLoader() : m_shared(std::make_shared<Shared>())
{
    m_shared->loader = this;
}

BackgroundLoader::~BackgroundLoader()
{
    // Results posted before this point find no loader and are dropped.
    m_shared->loader = nullptr;
}

void BackgroundLoader::SetReceiver(Receiver receiver)
{
    m_receiver = std::move(receiver);
}

void BackgroundLoader::Request(FrameRequest request)
{
    const QString folder = FolderOf(request.path);
    if (m_busyFolders.contains(folder)) {
        // The tick wants at most two pictures at a time, the due one and the next, and they are
        // always its latest two requests.
        QList<FrameRequest>& waiting = m_waiting[folder];
        if (waiting.size() >= MaxWaitingPerFolder)
            waiting.removeFirst();
        waiting.append(std::move(request));
    } else
        Start(std::move(request));
}

void BackgroundLoader::Start(FrameRequest request)
{
    const QString folder = FolderOf(request.path);
    const quint64 id = request.id;
    m_busyFolders.insert(folder);
    try {
        auto underWay = std::make_shared<FrameUnderWay>();
        StartDetachedThread([underWay, shared = m_shared, folder, request = std::move(request)]() mutable {
            const std::shared_ptr<FrameUnderWay> counted = std::move(underWay);
            Frame frame = RenderFrame(std::move(request));
            // The loader is made and destroyed on the window thread, where this runs: it is either
            // still there or has cleared its pointer.
            PostToMainThread(
                [shared = std::move(shared), folder = std::move(folder), frame = std::move(frame)]() mutable {
                    if (BackgroundLoader* loader = shared->loader)
                        loader->Finished(folder, std::move(frame));
                });
        });
    } catch (const std::exception&) {
        // No thread to be had: the picture cannot be shown this time.
        m_busyFolders.remove(folder);
        if (m_receiver)
            m_receiver(Frame{id, QImage()});
    }
}

void BackgroundLoader::Finished(const QString& folder, Frame frame)
{
    m_busyFolders.remove(folder);
    if (auto waiting = m_waiting.find(folder); waiting != m_waiting.end()) {
        FrameRequest next = waiting->takeFirst();
        if (waiting->isEmpty())
            m_waiting.erase(waiting);
        Start(std::move(next));
    }
    if (m_receiver)
        m_receiver(std::move(frame));
}

} // namespace vb
