#pragma once

#include <QString>

namespace vb {

// `App.PrevInstance`: whether another process of this program, for the same user, is running.
//
// Every process that registers holds an exclusive flock(2) on a file of its own in a per-user
// folder. The kernel drops the lock when the process dies however it dies, so a file whose lock
// can be taken belongs to a dead process: it is removed and does not count.
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

    // True when another registered process is alive.
    bool PrevInstance() const;

    const QString& folder() const { return m_folder; }

private:
    QString m_folder;
    QString m_ownFile;
    int m_fd = -1;
};

} // namespace vb
