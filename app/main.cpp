#include "app/ApplicationWindows.h"
#include "app/CommandLine.h"
#include "app/ModuleState.h"
#include "app/SubMain.h"
#include "app/UncaughtError.h"
#include "platform/CursorCounter.h"
#include "platform/DetachedThread.h"
#include "platform/DirectoryLister.h"
#include "platform/InstanceRegistry.h"
#include "platform/RandomSource.h"
#include "platform/RuntimeError.h"
#include "platform/SettingsStore.h"
#include "platform/X11ConnectionWatch.h"
#include "platform/X11Windows.h"

#include <QApplication>

int main(int argc, char** argv)
{
    // The command text is taken before QApplication removes the options it understands.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const QString commandText = vb::CommandText(arguments);

    try {
        vb::x11::RequireDisplay();
    } catch (const vb::RuntimeError& error) {
        vb::ReportUncaughtError(error, false);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vellumbright"));
    QApplication::setApplicationVersion(QStringLiteral(VELLUMBRIGHT_VERSION));
    // A run whose X server dies ends with one line and status 1.
    vb::x11::ConnectionWatch connectionWatch;

    vb::InstanceRegistry instances;
    instances.Register();

    vb::StdRandomSource random;
    vb::SettingsStore store(vb::SettingsStore::DefaultFilePath());
    vb::PosixDirectoryLister lister;
    vb::StartupServices services{
        random,
        store,
        lister,
        [&instances] { return instances.PrevInstance(); },
        vb::x11::FindTopLevelWindow,
        vb::x11::ClientSize,
        vb::ShowCursor,
    };
    vb::ApplicationWindows windows(store, lister, random);

    try {
        vb::SubMain(commandText, services, windows);
    } catch (const vb::EndRequest&) {
        return 0;
    } catch (const vb::RuntimeError& error) {
        // RunMode is set only after the settings have loaded; the command decides who is told.
        const bool configure = vb::ClassifyCommand(vb::NormaliseCommand(commandText)) == vb::Configure;
        vb::ReportUncaughtError(error, configure);
        return 1;
    }
    const int status = QApplication::exec();
    // The windows are gone and the pointer is shown again. A picture or folder read that is still
    // under way (perhaps hanging on a share that stopped answering) must not hold up the end.
    if (vb::DetachedThreadsRunning() > 0)
        vb::EndProcessNow(status);
    return status;
}
