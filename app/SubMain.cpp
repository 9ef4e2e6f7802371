#include "app/SubMain.h"

#include "app/CommandLine.h"
#include "app/ModeWindows.h"
#include "platform/runtime/RandomSource.h"
#include "platform/runtime/RuntimeError.h"
#include "settings/Settings.h"
#include "state/ModuleState.h"

namespace vb {

void CheckShouldRun(StartupServices& services, ModeWindows& windows)
{
    if (!services.prevInstance())
        return;
    if (services.findWindow(SingleInstanceCaption))
        throw EndRequest{};
    windows.Cover().SetCaption(SingleInstanceCaption);
}

void SubMain(const QString& commandText, StartupServices& services, ModeWindows& windows)
{
    services.random.Randomize();
    Catalogue catalogue = LoadSettings(services.store, services.lister, services.index);
    if (services.catalogue)
        *services.catalogue = std::move(catalogue);

    const QString normalised = NormaliseCommand(commandText);
    RunMode = ClassifyCommand(normalised);

    switch (RunMode) {
    case Configure:
        windows.ShowConfig();
        break;
    case ScreenSaver: {
        CheckShouldRun(services, windows);
        CoverSetHandle& cover = windows.Cover();
        cover.Show();
        cover.Maximise();
        services.showCursor(false);
        break;
    }
    case Preview: {
        const x11::WindowId host = x11::WindowId(ParsePreviewWindow(normalised));
        // A host that names no window leaves the rectangle at zero, as a failed GetClientRect does.
        const QSize clientSize = services.clientSize(host).value_or(QSize(0, 0));
        CoverSetHandle& cover = windows.Cover();
        cover.SetCaption(PreviewCaption);
        cover.EmbedInto(host, clientSize);
        break;
    }
    }
}

} // namespace vb
