#include "StallMount.h"

#include "PictureFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

namespace vbtest {

namespace {
const char* WhatName(StallMount::What what)
{
    return what == StallMount::Reads ? "read" : "list";
}
} // namespace

StallMount::~StallMount()
{
    Unmount();
}

QString StallMount::Path() const
{
    return m_dir.filePath("mount");
}

QString StallMount::Control(const QString& name) const
{
    return m_dir.filePath("control/" + name);
}

bool StallMount::MountQuadrants(QString* why)
{
    if (!SavePicture(m_quadrants.filePath("quadrants.bmp"), Quadrants(QSize(200, 100)), "bmp")) {
        *why = "cannot write the picture to serve";
        return false;
    }
    return Mount(m_quadrants.path(), why);
}

bool StallMount::Mount(const QString& source, QString* why)
{
    if (!QFile::exists("/dev/fuse")) {
        *why = "there is no /dev/fuse";
        return false;
    }
    if (QProcess::execute("/usr/bin/python3", {"-c", "import fusepy"}) != 0) {
        *why = "python3-fusepy is not installed";
        return false;
    }
    QDir().mkpath(Path());
    QDir().mkpath(m_dir.filePath("control"));
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    m_server.start("/usr/bin/python3", {VB_STALLFS, source, Path(), m_dir.filePath("control")});
    QElapsedTimer timer;
    timer.start();
    while (!QFile::exists(Control("mounted")) && m_server.state() != QProcess::NotRunning &&
           timer.elapsed() < 10000)
        m_server.waitForFinished(50);
    m_mounted = QFile::exists(Control("mounted"));
    if (!m_mounted) {
        *why = "FUSE cannot be mounted here: " + QString::fromLocal8Bit(m_server.readAll()).trimmed();
        Unmount();
    }
    return m_mounted;
}

void StallMount::Stall(What what, bool on)
{
    const QString marker = Control(QString("stall-") + WhatName(what));
    QFile::remove(Control(QString("waiting-") + WhatName(what)));
    if (on) {
        QFile file(marker);
        file.open(QIODevice::WriteOnly);
    } else {
        QFile::remove(marker);
    }
}

bool StallMount::HasWaited(What what) const
{
    return QFile::exists(Control(QString("waiting-") + WhatName(what)));
}

void StallMount::Unmount()
{
    if (m_server.state() == QProcess::NotRunning && !m_mounted)
        return;
    Stall(Reads, false);
    Stall(Listings, false);
    // Detached at once even while busy; whoever still waits gets an error once the server ends.
    if (QProcess::execute("umount", {"-l", Path()}) != 0 &&
        !QStandardPaths::findExecutable("fusermount3").isEmpty())
        QProcess::execute("fusermount3", {"-u", "-z", Path()});
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        if (!m_server.waitForFinished(3000)) {
            m_server.kill();
            m_server.waitForFinished(3000);
        }
    }
    m_mounted = false;
}

} // namespace vbtest
