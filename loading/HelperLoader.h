#pragma once

#include "picture/PictureLoader.h"
#include "platform/files/DirectoryLister.h"

namespace vb {

class HelperConnection;

// A cover's loader: its requests go to the loading helper, and the frames come back on the
// window thread.
class HelperLoader final : public PictureLoader
{
public:
    explicit HelperLoader(HelperConnection& connection);
    ~HelperLoader() override;
    void SetReceiver(Receiver receiver) override;
    void Request(FrameRequest request) override;

private:
    HelperConnection& m_connection;
    Receiver m_receiver;
    // Its answers stop when it leaves, before it is gone.
    quint64 m_client;
};

// Folders listed by the loading helper.
class HelperDirectoryLister final : public DirectoryLister
{
public:
    explicit HelperDirectoryLister(HelperConnection& connection) : m_connection(connection) {}
    void List(const QString& folder, const Wanted& wanted, const Found& found) const override;
    std::optional<FolderId> ListWithSubfolders(const QString& folder, const Wanted& wanted,
                                               const Found& found,
                                               const FoundFolder& subfolder) const override;

private:
    HelperConnection& m_connection;
};

} // namespace vb
