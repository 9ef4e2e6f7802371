#include "picture/BackgroundLoader.h"

#include "picture/FramePainter.h"
#include "platform/runtime/DetachedThread.h"
#include "platform/runtime/MainThreadPost.h"

namespace vb {

namespace {

constexpr qsizetype MaxWaitingPerFolder = 2;

QString FolderOf(const QString& path)
{
    return path.left(path.lastIndexOf(u'/') + 1);
}

std::function<std::unique_ptr<PictureLoader>()>& LoaderMaker()
{
    static std::function<std::unique_ptr<PictureLoader>()> maker;
    return maker;
}

} // namespace

std::unique_ptr<PictureLoader> MakePictureLoader()
{
    if (LoaderMaker())
        return LoaderMaker()();
    return std::make_unique<BackgroundLoader>();
}

void SetPictureLoaderMaker(std::function<std::unique_ptr<PictureLoader>()> maker)
{
    LoaderMaker() = std::move(maker);
}

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
        StartDetachedThread([shared = m_shared, folder, request = std::move(request)]() mutable {
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
