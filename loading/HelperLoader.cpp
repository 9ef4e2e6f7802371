#include "loading/HelperLoader.h"

#include "loading/HelperConnection.h"

namespace vb {

HelperLoader::HelperLoader(HelperConnection& connection)
    : m_connection(connection), m_client(connection.Join())
{
}

HelperLoader::~HelperLoader()
{
    m_connection.Leave(m_client);
}

void HelperLoader::SetReceiver(Receiver receiver)
{
    m_receiver = std::move(receiver);
}

void HelperLoader::Request(FrameRequest request)
{
    m_connection.RequestFrame(request, m_client, [this](Frame frame) {
        if (m_receiver)
            m_receiver(std::move(frame));
    });
}

void HelperDirectoryLister::List(const QString& folder, const Wanted& wanted, const Found& found) const
{
    m_connection.List(folder, false, wanted, found, nullptr);
}

std::optional<FolderId> HelperDirectoryLister::ListWithSubfolders(const QString& folder, const Wanted& wanted,
                                                                  const Found& found,
                                                                  const FoundFolder& subfolder) const
{
    return m_connection.List(folder, true, wanted, found, subfolder);
}

} // namespace vb
