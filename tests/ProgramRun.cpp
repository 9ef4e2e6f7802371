#include "ProgramRun.h"

#include "ScreenChecks.h"
#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <unistd.h>

namespace vbtest {

namespace {

constexpr uid_t Nobody = 65534;
constexpr auto OwnerAll = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

bool GiveToUser(const QString& folder)
{
    if (geteuid() != 0)
        return true;
    bool ok = lchown(QFile::encodeName(folder).constData(), Nobody, Nobody) == 0;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        ok = lchown(QFile::encodeName(it.next()).constData(), Nobody, Nobody) == 0 && ok;
    return ok;
}

// Lets the owner into every folder again, whatever a test took away, so that the scratch folder
// can be removed. Links are not followed.
void OpenFolders(const QString& folder)
{
    if (!QFile::setPermissions(folder, OwnerAll))
        return;
    for (const QFileInfo& entry :
         QDir(folder).entryInfoList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot))
        if (!entry.isSymLink())
            OpenFolders(entry.filePath());
}

} // namespace

QByteArray SettingsFor(const QStringList& folders, const QByteArray& more)
{
    QByteArray settings = "[Settings]\nNumDirs=" + QByteArray::number(folders.size()) + "\n";
    for (qsizetype i = 0; i < folders.size(); ++i)
        settings += "Dir" + QByteArray::number(i + 1) + "=" + folders[i].toUtf8() + "\n";
    return settings + more;
}

ProgramRun::ProgramRun(const std::optional<QByteArray>& settings)
    : m_scratch(std::make_shared<QTemporaryDir>()), m_environment(QProcessEnvironment::systemEnvironment()),
      m_program(QStringLiteral(VB_PROGRAM))
{
    if (!m_scratch->isValid() || !QDir().mkpath(ConfigFolder()) || !QDir().mkpath(Path("runtime")) ||
        !QFile::setPermissions(Path("runtime"), OwnerAll) ||
        (settings && !WriteFile(SettingsFile(), *settings)))
        Note("cannot make the scratch folder");
    m_environment.insert("HOME", Path());
    m_environment.insert("XDG_CONFIG_HOME", ConfigFolder());
    m_environment.insert("XDG_CACHE_HOME", Path("cache"));
    m_environment.insert("XDG_RUNTIME_DIR", Path("runtime"));
}

ProgramRun::ProgramRun(const ProgramRun& beside)
    : m_scratch(beside.m_scratch), m_environment(beside.m_environment), m_program(beside.m_program),
      m_asUser(beside.m_asUser)
{
}

ProgramRun::~ProgramRun()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
    if (m_scratch.use_count() == 1)
        OpenFolders(Path());
}

QString ProgramRun::Path(const QString& name) const
{
    return name.isEmpty() ? m_scratch->path() : m_scratch->filePath(name);
}

bool ProgramRun::AsUser()
{
    m_asUser = true;
    if (!GiveToUser(Path()))
        Note("cannot give the scratch folder to the user");
    return m_problems.isEmpty();
}

bool ProgramRun::Start(const QStringList& arguments)
{
    m_process.setProcessEnvironment(m_environment);
    m_started.start();
    // setpriv replaces itself with the program, which so keeps its process id.
    if (m_asUser && geteuid() == 0)
        m_process.start("setpriv",
                        QStringList{QString("--reuid=%1").arg(Nobody), QString("--regid=%1").arg(Nobody),
                                    "--clear-groups", m_program} +
                            arguments);
    else
        m_process.start(m_program, arguments);
    if (!m_process.waitForStarted()) {
        Note("cannot start: " + m_process.errorString());
        return false;
    }
    m_pid = m_process.processId();
    return true;
}

bool ProgramRun::Running()
{
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(0)) {
        const double seconds = CpuSeconds();
        if (seconds >= 0)
            m_cpuSeconds = seconds;
        return true;
    }
    if (!m_ended && m_started.isValid() && m_process.error() != QProcess::FailedToStart) {
        m_ended = true;
        crashed = m_process.exitStatus() == QProcess::CrashExit;
        exitCode = crashed ? -1 : m_process.exitCode();
        out = m_process.readAllStandardOutput();
        err = m_process.readAllStandardError();
    }
    return false;
}

bool ProgramRun::EndsWithin(int timeoutMs)
{
    return QTest::qWaitFor([this] { return !Running(); }, timeoutMs);
}

bool ProgramRun::Finish(int timeoutMs)
{
    if (!EndsWithin(timeoutMs)) {
        timedOut = true;
        Note(QString("still running after %1 ms").arg(timeoutMs));
        m_process.kill();
        m_process.waitForFinished();
        Running();
    }
    return m_ended && !timedOut && !crashed;
}

bool ProgramRun::Run(const QStringList& arguments, int timeoutMs)
{
    return Start(arguments) && Finish(timeoutMs);
}

bool ProgramRun::WaitForScreen(const std::function<bool(const QImage&)>& shown, const QString& window,
                               int timeoutMs)
{
    bool seen = false;
    (void)QTest::qWaitFor(
        [&] {
            if (!Running())
                return true;
            screenshot = Screenshot(window, m_environment.value("DISPLAY"));
            return seen = shown(screenshot);
        },
        timeoutMs);
    if (!seen)
        Note(Running() ? QString("not shown within %1 ms").arg(timeoutMs)
                       : QString("ended before it showed"));
    return seen;
}

bool ProgramRun::End(Ending ending, int timeoutMs)
{
    const auto tool = [this](const QStringList& arguments) {
        if (!Xdotool(arguments))
            Note("xdotool " + arguments.join(' ') + " failed");
    };
    if (ending == Key)
        tool({"key", "x"});
    else if (ending == Click)
        tool({"click", "1"});
    else if (ending == Wheel)
        tool({"click", "5"});
    else if (ending == Term || ending == Interrupt) {
        // Never 0, which would signal the test's own process group.
        if (Pid() > 0)
            ::kill(pid_t(Pid()), ending == Term ? SIGTERM : SIGINT);
    } else {
        tool({"mousemove_relative", "100", "0"});
        if (EndsWithin(700))
            Note("ended on the first report of the pointer");
        tool({"mousemove_relative", "1", "0"});
    }
    return Finish(timeoutMs);
}

bool ProgramRun::ShowThenEnd(const QStringList& arguments, const std::function<bool(const QImage&)>& shown,
                             Ending ending)
{
    return Start(arguments) && WaitForScreen(shown) && End(ending);
}

double ProgramRun::CpuSeconds() const
{
    if (m_process.state() == QProcess::NotRunning)
        return m_cpuSeconds;
    const QByteArray stat = ReadFile(QString("/proc/%1/stat").arg(Pid()));
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

QStringList ProgramRun::ErrorLines() const
{
    return vbtest::ErrorLines(err);
}

QString ProgramRun::Check(int status, const QString& errorLine, int lineCount) const
{
    QStringList problems = m_problems;
    if (!m_ended)
        problems.append("not ended");
    else if (crashed)
        problems.append("ended by a signal");
    else if (exitCode != status)
        problems.append(QString("status %1").arg(exitCode));
    // A run that ended as it should took its entry out of the instance registry (one ended by an
    // error may leave it: the registry knows a dead process's file by its free lock).
    if (m_ended && !crashed && status == 0 &&
        QFileInfo::exists(Path(QString("runtime/vellumbright/instance-%1").arg(m_pid))))
        problems.append("left its instance file");
    const QStringList lines = ErrorLines();
    const QRegularExpression expected("^(?:" + errorLine + ")$");
    if (errorLine.isNull()
            ? !err.isEmpty()
            : lines.size() != lineCount || !std::all_of(lines.begin(), lines.end(), [&](const QString& line) {
                  return expected.match(line).hasMatch();
              }))
        problems.append("standard error: " + QString::fromLocal8Bit(err).trimmed());
    return problems.join("; ");
}

} // namespace vbtest
