#pragma once

#include <QString>

namespace vb {

// The idle watcher's XDG autostart entry, ~/.config/autostart/vellumbright-idle.desktop
// ($XDG_CONFIG_HOME/autostart where set), which GNOME, KDE, Xfce and systemd's autostart
// generator all start with the session.
QString AutostartEntryPath();

// Writes the entry for `program` (the full path of vellumbright), replacing any; throws
// RuntimeError when it cannot be written.
void WriteAutostartEntry(const QString& program);

// Removes the entry; one that is not there is no error.
void RemoveAutostartEntry();

// Starts `program --idle` on its own (it outlives the caller) where no watcher runs for this
// display yet; with `run` false, ends the running one.
void ApplyIdleWatcher(const QString& program, bool run);

} // namespace vb
