#include "app/ApplicationWindows.h"

#include "config/BrowseForFolder.h"
#include "config/OpenWebAddress.h"
#include "config/frmConfig.h"
#include "cover/CoverSet.h"
#include "platform/display/UncaughtError.h"
#include "platform/files/Autostart.h"
#include "platform/files/IdleInstance.h"
#include "platform/runtime/RuntimeError.h"

#include <QFileInfo>
#include <QProcess>
#include <csignal>

namespace vb {

namespace {

// This program, by its full path: what the autostart entry and the preview run.
QString ThisProgram()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

void StartAutomatically(bool start)
{
    try {
        if (start)
            WriteAutostartEntry(ThisProgram());
        else
            RemoveAutostartEntry();
    } catch (const RuntimeError& error) {
        EndWithUncaughtError(error, true);
    }
    ApplyIdleWatcher(ThisProgram(), start);
}

} // namespace

ApplicationWindows::ApplicationWindows(SettingsStore& store, const DirectoryLister& lister,
                                       RandomSource& random, const PictureIndex* index, Catalogue* catalogue)
    : m_store(store), m_lister(lister), m_random(random), m_index(index), m_catalogue(catalogue)
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
        [] { QProcess::startDetached(ThisProgram(), {QStringLiteral("/S")}); },
        StartAutomatically,
        [] { SignalIdleWatcher(SIGHUP); },
        m_catalogue,
    });
    m_config->setAttribute(Qt::WA_DeleteOnClose);
    m_config->show();
}

CoverSetHandle& ApplicationWindows::Cover()
{
    if (!m_cover)
        m_cover = std::make_unique<CoverSet>(m_random);
    return *m_cover;
}

} // namespace vb
