#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace vb {

// `App.PrevInstance`: whether another process of this program, for the same user, is running.
//
// Every process that registers holds an exclusive flock(2) on a file of its own in a per-user
// folder. The kernel drops the lock when the process dies however it dies, so a file whose lock
// can be taken belongs to a dead process: it is removed and does not count.
//
// The file also records the run's mode and the captions of its windows, so that a run can find
// another run's window by its caption where the display server shows titles to nobody (Wayland).
class InstanceRegistry
{
public:
    // folder: where the files live; empty means ChooseFolder($XDG_RUNTIME_DIR,
    // /tmp/vellumbright-<uid>).
    explicit InstanceRegistry(QString folder = QString());

    // `runtimeDir`/vellumbright when `runtimeDir` is an absolute path where that folder is, or can
    // be made, private to this user (owned by the user, writable, mode 0700); else `fallback`,
    // which Register checks on the same terms. A runtime folder that is missing, relative or not
    // writable so never switches the registry off.
    static QString ChooseFolder(const QString& runtimeDir, const QString& fallback);
    ~InstanceRegistry();
    InstanceRegistry(const InstanceRegistry&) = delete;
    InstanceRegistry& operator=(const InstanceRegistry&) = delete;

    // Adds this process. Returns false when the folder or the file cannot be made; the process
    // then does not count for others, which errs on the side of showing the saver.
    bool Register();

    // Removes this process's file, as the destructor does; for a process that ends without
    // running its destructors.
    void Unregister();

    // True when another registered process is alive.
    bool PrevInstance() const;

    // Replaces what this process's file records: its run mode and the captions of its windows.
    // Does nothing before Register() succeeded.
    void Record(const QString& mode, const QStringList& captions);
    // The process id of another live process whose record holds `caption`; 0 when none does.
    qint64 FindCaption(const QString& caption) const;

    const QString& folder() const { return m_folder; }

private:
    struct Entry
    {
        qint64 pid = 0;
        QString mode;
        QStringList captions;
    };
    // Calls `live` for every other live process, with its record, until it returns true; tidies
    // away the files of dead ones. Returns whether `live` returned true.
    bool ForEachOther(const std::function<bool(const Entry&)>& live) const;
    static Entry ReadEntry(int fd, const QByteArray& name);

    QString m_folder;
    QString m_ownFile;
    int m_fd = -1;
};

} // namespace vb
