#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace vbtest {

// A FUSE mount (tests/stallfs.py) of a folder whose file reads and folder listings stall on
// demand, as on a network share that stopped answering. Whatever happens to the test, the
// destructor lets every stalled request go on, unmounts and stops the server; the server also
// dies with the test process, which fails whatever still waits on it.
class StallMount
{
public:
    StallMount() = default;
    ~StallMount();
    StallMount(const StallMount&) = delete;
    StallMount& operator=(const StallMount&) = delete;

    // Serves the files of `source`. False, with the reason, where FUSE cannot be mounted.
    bool Mount(const QString& source, QString* why);
    // Serves a folder of its own holding one picture, quadrants.bmp (Quadrants of 200x100).
    bool MountQuadrants(QString* why);
    // The mounted folder.
    QString Path() const;

    enum What { Reads, Listings };
    void Stall(What what, bool on);
    // Whether a request has waited since Stall(what, true).
    bool HasWaited(What what) const;

    void Unmount();

private:
    QString Control(const QString& name) const;

    QTemporaryDir m_dir;
    QTemporaryDir m_quadrants;
    QProcess m_server;
    bool m_mounted = false;
};

} // namespace vbtest
