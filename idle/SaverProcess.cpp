#include "idle/SaverProcess.h"

#include <QProcess>

namespace vb {

SaverProcess::SaverProcess(QString program, QStringList arguments, QObject* parent)
    : SaverLauncher(parent), m_program(std::move(program)), m_arguments(std::move(arguments))
{
}

SaverProcess::~SaverProcess()
{
    // QProcess ends its child when it is destroyed, so a show that is on keeps its QProcess: the
    // process is ending anyway.
    if (!Running())
        delete m_process;
}

bool SaverProcess::Running() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

bool SaverProcess::Start(QString* error)
{
    if (Running())
        return true;
    delete m_process;
    m_process = new QProcess;
    m_process->setProcessChannelMode(QProcess::ForwardedChannels);
    m_process->setInputChannelMode(QProcess::ForwardedInputChannel);
    connect(m_process, &QProcess::finished, this, &SaverLauncher::ended);
    m_process->start(m_program, m_arguments);
    if (!m_process->waitForStarted()) {
        if (error)
            *error = m_program + QStringLiteral(": ") + m_process->errorString();
        return false;
    }
    return true;
}

} // namespace vb
