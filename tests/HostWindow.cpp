#include "HostWindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QWidget>
#include <cstdio>
#include <cstring>

namespace vbtest {

int RunHostWindowIfAsked(int argc, char** argv)
{
    if (argc != 4 || std::strcmp(argv[1], "--host-window") != 0)
        return -1;
    QApplication app(argc, argv);
    const QStringList size = QString::fromUtf8(argv[3]).split('x');
    QWidget window;
    window.setWindowTitle(QString::fromUtf8(argv[2]));
    window.setFixedSize(size.value(0).toInt(), size.value(1).toInt());
    window.show();
    std::printf("%llu\n", static_cast<unsigned long long>(window.winId()));
    std::fflush(stdout);
    return app.exec();
}

HostWindowProcess::~HostWindowProcess()
{
    Kill();
}

bool HostWindowProcess::Start(const QString& title, QSize size)
{
    m_process.start(QCoreApplication::applicationFilePath(),
                    {"--host-window", title, QString("%1x%2").arg(size.width()).arg(size.height())});
    if (!m_process.waitForStarted() || !m_process.waitForReadyRead(10000))
        return false;
    m_id = vb::x11::WindowId(m_process.readLine().trimmed().toULongLong());
    return m_id != 0;
}

void HostWindowProcess::Kill()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

} // namespace vbtest
