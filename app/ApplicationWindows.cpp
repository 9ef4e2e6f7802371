#include "app/ApplicationWindows.h"

#include "config/BrowseForFolder.h"
#include "config/OpenWebAddress.h"
#include "config/frmConfig.h"
#include "cover/CoverWindow.h"
#include "platform/display/UncaughtError.h"
#include "platform/runtime/RuntimeError.h"

namespace vb {

ApplicationWindows::ApplicationWindows(SettingsStore& store, const DirectoryLister& lister,
                                       RandomSource& random, const PictureIndex* index)
    : m_store(store), m_lister(lister), m_random(random), m_index(index)
{
}

ApplicationWindows::~ApplicationWindows()
{
    delete m_config.data();
}

void ApplicationWindows::ShowConfig()
{
    // Modeless and without an owner. Closing it destroys it; being the only window, that ends
    // the event loop and with it the process.
    m_config = new frmConfig(ConfigServices{
        m_store,
        m_lister,
        BrowseForFolder,
        OpenWebAddress,
        [](const RuntimeError& error) { EndWithUncaughtError(error, true); },
        m_index,
    });
    m_config->setAttribute(Qt::WA_DeleteOnClose);
    m_config->show();
}

CoverWindowHandle& ApplicationWindows::Cover()
{
    if (!m_cover)
        m_cover = std::make_unique<CoverWindow>(m_random);
    return *m_cover;
}

} // namespace vb
