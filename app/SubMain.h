#pragma once

#include "platform/x11/X11Windows.h"

#include <QSize>
#include <QString>
#include <functional>
#include <optional>

namespace vb {

class Catalogue;
class DirectoryLister;
class ModeWindows;
class PictureIndex;
class RandomSource;
class SettingsStore;

// What start-up needs from the platform; main() passes the real services, tests their fakes.
struct StartupServices
{
    RandomSource& random;
    SettingsStore& store;
    const DirectoryLister& lister;
    // `App.PrevInstance`.
    std::function<bool()> prevInstance;
    // `FindWindowA` with no class, reduced to what the guard asks: whether a top-level window
    // bears the caption.
    std::function<bool(const QString& caption)> findWindow;
    // `GetClientRect`: nullopt when the id names no window.
    std::function<std::optional<QSize>(x11::WindowId)> clientSize;
    // `ShowCursor`.
    std::function<int(bool show)> showCursor;
    // The picture list of the last start, to start from at once; none: every start lists the
    // folders first.
    const PictureIndex* index = nullptr;
    // Keeps the catalogue start-up builds, so that what its walks find later still joins the
    // show; none: that is dropped when start-up ends.
    Catalogue* catalogue = nullptr;
};

// The single-instance caption and the preview caption.
inline const QString SingleInstanceCaption = QStringLiteral("Lanternshade/S");
inline const QString PreviewCaption = QStringLiteral("Preview");

// `SubMain`: seeds the random generator, loads the settings and the catalogue, classifies the
// command text into RunMode and opens the window of the mode. Errors (a bad setting, a bad
// preview id) throw RuntimeError before any window opens; the guard throws EndRequest.
void SubMain(const QString& commandText, StartupServices& services, ModeWindows& windows);

// `CheckShouldRun`: returns, or throws EndRequest when another full-screen instance runs.
void CheckShouldRun(StartupServices& services, ModeWindows& windows);

} // namespace vb
