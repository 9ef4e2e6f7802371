#include "settings/IdleSettings.h"

#include "platform/runtime/Conversions.h"
#include "platform/runtime/RuntimeError.h"
#include "settings/SettingsStore.h"
#include "state/ModuleState.h"

namespace vb {

const QString KeyStartAfterMinutes = QStringLiteral("StartAfterMinutes");
const QString KeyStartAutomatically = QStringLiteral("StartAutomatically");

qint32 StartAfterMinutesFromText(const QString& text)
{
    try {
        const qint32 minutes = TextToInt32(text);
        if (minutes >= 1 && minutes <= MaxStartAfterMinutes)
            return minutes;
    } catch (const RuntimeError&) {
    }
    return DefaultStartAfterMinutes;
}

qint32 ReadStartAfterMinutes(const SettingsStore& store)
{
    try {
        const IniDocument doc = store.Read();
        return StartAfterMinutesFromText(
            doc.Value(QStringLiteral("Settings"), KeyStartAfterMinutes).value_or(QString()));
    } catch (const RuntimeError&) {
        return DefaultStartAfterMinutes;
    }
}

} // namespace vb
