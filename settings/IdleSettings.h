#pragma once

#include <QString>
#include <QtGlobal>

namespace vb {

class SettingsStore;

// The idle watcher's settings, beside the others in section "Settings": StartAfterMinutes (1 to
// 240, default 10) and StartAutomatically ("True"/"False", default False).
extern const QString KeyStartAfterMinutes;
extern const QString KeyStartAutomatically;

// A stored text as minutes: a number from 1 to 240; anything else, absent included, is 10. A
// watcher never ends over a hand-edited value: it waits the default time instead.
qint32 StartAfterMinutesFromText(const QString& text);

// What the watcher reads when it starts and on SIGHUP. A file that cannot be read gives 10.
qint32 ReadStartAfterMinutes(const SettingsStore& store);

} // namespace vb
