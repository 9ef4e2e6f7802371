#include "platform/files/Autostart.h"

#include "platform/files/IdleInstance.h"
#include "platform/runtime/RuntimeError.h"

#include <QDir>
#include <QProcess>
#include <QSaveFile>
#include <csignal>

namespace vb {

namespace {

// Exec= quoting of the desktop entry format: the path in double quotes, with '"', '`', '$' and
// '\' escaped, and the entry's own escape of '\' on top.
QString QuotedExec(const QString& program)
{
    QString quoted;
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    return u'"' + quoted + u'"';
}

} // namespace

QString AutostartEntryPath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart/vellumbright-idle.desktop");
}

void WriteAutostartEntry(const QString& program)
{
    const QString path = AutostartEntryPath();
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile file(path);
    const QString entry =
        QStringLiteral("[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=Vellumbright idle watcher\n"
                       "Comment=Starts the Vellumbright screen saver when the session is idle\n"
                       "Exec=%1 --idle\n"
                       "Icon=com.quorrel.Vellumbright\n"
                       "Terminal=false\n"
                       "NoDisplay=true\n"
                       "X-GNOME-Autostart-Phase=Applications\n")
            .arg(QuotedExec(program));
    if (!file.open(QIODevice::WriteOnly) || file.write(entry.toUtf8()) < 0 || !file.commit())
        throw RuntimeError(ErrorCode::PathFileAccess, path + QStringLiteral(": ") + file.errorString());
}

void RemoveAutostartEntry()
{
    QFile::remove(AutostartEntryPath());
}

void ApplyIdleWatcher(const QString& program, bool run)
{
    if (!run) {
        SignalIdleWatcher(SIGTERM);
        return;
    }
    if (RunningIdleWatcher() == 0)
        QProcess::startDetached(program, {QStringLiteral("--idle")});
}

} // namespace vb
