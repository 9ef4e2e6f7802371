#include "TestSupport.h"

#include <QThread>

#include "platform/runtime/RuntimeError.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <unistd.h>

namespace vbtest {

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void FakeLister::List(const QString& folder, const Wanted& wanted, const Found& found) const
{
    asked.append(folder);
    const auto it = folders.find(folder);
    if (it == folders.end())
        return;
    if (it->silentMs > 0)
        QThread::msleep(unsigned(it->silentMs));
    int index = 0;
    for (const Entry& entry : it->entries) {
        if (it->failAfter >= 0 && index == it->failAfter)
            throw vb::RuntimeError(vb::ErrorCode::DeviceIO,
                                   QStringLiteral("cannot list folder \"%1\": fake failure").arg(folder));
        ++index;
        if (!entry.name.empty() && entry.name.front() != '.' && wanted(entry.name) && entry.ordinary)
            found(entry.name);
    }
    if (it->failAfter >= 0 && index == it->failAfter)
        throw vb::RuntimeError(vb::ErrorCode::DeviceIO,
                               QStringLiteral("cannot list folder \"%1\": fake failure").arg(folder));
}

ProcessResult RunProgram(const QStringList& arguments, const QProcessEnvironment& environment, int timeoutMs,
                         bool asUser)
{
    ProcessResult result;
    QProcess process;
    process.setProcessEnvironment(environment);
    if (asUser)
        process.start(ProgramAsUser(), ArgumentsAsUser(arguments));
    else
        process.start(QStringLiteral(VB_PROGRAM), arguments);
    if (!process.waitForStarted(timeoutMs))
        return result;
    if (!process.waitForFinished(timeoutMs)) {
        result.timedOut = true;
        process.kill();
        process.waitForFinished();
    }
    result.crashed = process.exitStatus() == QProcess::CrashExit;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

namespace {
constexpr uid_t Nobody = 65534;
}

QString ProgramAsUser()
{
    return geteuid() == 0 ? QStringLiteral("setpriv") : QStringLiteral(VB_PROGRAM);
}

QStringList ArgumentsAsUser(const QStringList& arguments)
{
    if (geteuid() != 0)
        return arguments;
    // setpriv replaces itself with the program, which so keeps its process id.
    return QStringList{QStringLiteral("--reuid=%1").arg(Nobody), QStringLiteral("--regid=%1").arg(Nobody),
                       QStringLiteral("--clear-groups"), QStringLiteral(VB_PROGRAM)} +
           arguments;
}

bool GiveToUser(const QString& folder)
{
    const QString runtime = folder + QStringLiteral("/runtime");
    if (!QDir().mkpath(runtime) ||
        !QFile::setPermissions(runtime,
                               QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
        return false;
    if (geteuid() != 0)
        return true;
    bool ok = lchown(QFile::encodeName(folder).constData(), Nobody, Nobody) == 0;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        ok = lchown(QFile::encodeName(it.next()).constData(), Nobody, Nobody) == 0 && ok;
    return ok;
}

QProcessEnvironment EnvironmentForUser(QProcessEnvironment environment, const QString& folder)
{
    environment.insert(QStringLiteral("HOME"), folder);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder + QStringLiteral("/runtime"));
    return environment;
}

QStringList ErrorLines(const QByteArray& err)
{
    return QString::fromLocal8Bit(err).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace vbtest

#include <cstdio>
#include <unistd.h>

namespace vbtest {

StderrCapture::StderrCapture()
{
    std::fflush(stderr);
    char name[] = "/tmp/vb-stderr.XXXXXX";
    m_file = mkstemp(name);
    unlink(name);
    m_saved = dup(2);
    dup2(m_file, 2);
}

QString StderrCapture::Finish()
{
    if (m_saved < 0)
        return m_text;
    std::fflush(stderr);
    dup2(m_saved, 2);
    close(m_saved);
    m_saved = -1;
    QByteArray bytes;
    lseek(m_file, 0, SEEK_SET);
    char buffer[4096];
    for (ssize_t n; (n = read(m_file, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, n);
    close(m_file);
    m_text = QString::fromLocal8Bit(bytes);
    return m_text;
}

StderrCapture::~StderrCapture()
{
    Finish();
}

} // namespace vbtest
