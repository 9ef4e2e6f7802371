#pragma once

#include "picture/PictureLoader.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <memory>

namespace vb {

// Reads and decodes pictures on threads of their own, never on the window thread, and hands the
// finished frames to the receiver on the window thread: the covers' loader in the tests, in place
// of the program's loading helper (HelperLoader).
//
// At most one read per folder is under way: a request for a folder whose last read has not
// ended waits until it has; of the requests waiting for one folder only the latest two are kept.
// So a folder whose reads hang in the kernel ties up one thread, however long the show runs.
// The threads are never joined (see DetachedThread.h).
class BackgroundLoader final : public PictureLoader
{
public:
    BackgroundLoader();
    ~BackgroundLoader() override;
    BackgroundLoader(const BackgroundLoader&) = delete;
    BackgroundLoader& operator=(const BackgroundLoader&) = delete;

    void SetReceiver(Receiver receiver) override;
    void Request(FrameRequest request) override;

private:
    struct Shared;
    void Start(FrameRequest request);
    void Finished(const QString& folder, Frame frame);

    std::shared_ptr<Shared> m_shared;
    Receiver m_receiver;
    QSet<QString> m_busyFolders;
    QHash<QString, QList<FrameRequest>> m_waiting;
};

} // namespace vb
