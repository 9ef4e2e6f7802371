#include "ProgramRun.h"

#include "ScreenChecks.h"
#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vbtest {

namespace {

constexpr uid_t Nobody = 65534;

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

// Lets the owner into every folder again, so that the scratch folder can be removed whatever a
// test took away.
void OpenFolders(const QString& folder)
{
    if (!QFile::setPermissions(folder,
                               QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
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
        !QFile::setPermissions(Path("runtime"),
                               QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner) ||
        (settings && !WriteFile(SettingsFile(), *settings)))
        Note("cannot make the scratch folder");
    m_environment.insert("HOME", Path());
    m_environment.insert("XDG_CONFIG_HOME", ConfigFolder());
    m_environment.insert("XDG_RUNTIME_DIR", Path("runtime"));
}

ProgramRun::ProgramRun(const ProgramRun& beside)
    : m_scratch(beside.m_scratch), m_environment(beside.m_environment), m_program(beside.m_program),
      m_asUser(beside.m_asUser)
{
}

ProgramRun::~ProgramRun()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
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
    if (!GiveToUser(Path())) {
        Note("cannot give the scratch folder to the user");
        return false;
    }
    return true;
}

bool ProgramRun::Start(const QStringList& arguments)
{
    static std::atomic<int> runs = 0;
    m_number = ++runs;
    QStringList command{m_program};
    if (m_asUser && geteuid() == 0)
        command = QStringList{"setpriv", QString("--reuid=%1").arg(Nobody), QString("--regid=%1").arg(Nobody),
                              "--clear-groups", m_program};
    command += arguments;

    std::vector<QByteArray> args, env;
    for (const QString& a : command)
        args.push_back(QFile::encodeName(a));
    for (const QString& e : m_environment.toStringList())
        env.push_back(e.toLocal8Bit());
    std::vector<char*> argv, envp;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    for (QByteArray& e : env)
        envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    const QByteArray outFile = QFile::encodeName(Path(QString("run-%1.out").arg(m_number)));
    const QByteArray errFile = QFile::encodeName(Path(QString("run-%1.err").arg(m_number)));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // What the test process ignores or blocks, the program must not inherit.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t set;
    sigemptyset(&set);
    posix_spawnattr_setsigmask(&attributes, &set);
    for (const int s : {SIGINT, SIGTERM, SIGPIPE, SIGHUP})
        sigaddset(&set, s);
    posix_spawnattr_setsigdefault(&attributes, &set);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    m_started.start();
    const int failed = posix_spawnp(&m_pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed) {
        m_pid = -1;
        Note(QString("cannot start %1: %2").arg(command.first(), strerror(failed)));
        return false;
    }
    return true;
}

void ProgramRun::Ended(int status)
{
    m_pid = -1;
    crashed = WIFSIGNALED(status);
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    out = ReadFile(Path(QString("run-%1.out").arg(m_number)));
    err = ReadFile(Path(QString("run-%1.err").arg(m_number)));
}

bool ProgramRun::Running()
{
    int status = 0;
    if (m_pid > 0 && wait4(m_pid, &status, WNOHANG, &m_usage) == m_pid)
        Ended(status);
    return m_pid > 0;
}

bool ProgramRun::EndsWithin(int timeoutMs)
{
    return QTest::qWaitFor([this] { return !Running(); }, timeoutMs);
}

bool ProgramRun::Finish(int timeoutMs)
{
    if (EndsWithin(timeoutMs))
        return !crashed;
    timedOut = true;
    Note(QString("still running after %1 ms").arg(timeoutMs));
    int status = 0;
    ::kill(m_pid, SIGKILL);
    wait4(m_pid, &status, 0, &m_usage);
    Ended(status);
    return false;
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
    switch (ending) {
    case Key:
        tool({"key", "x"});
        break;
    case Click:
        tool({"click", "1"});
        break;
    case Wheel:
        tool({"click", "5"});
        break;
    case Move:
        tool({"mousemove_relative", "100", "0"});
        if (EndsWithin(700)) {
            Note("ended on the first report of the pointer");
            return false;
        }
        tool({"mousemove_relative", "1", "0"});
        break;
    case Term:
        ::kill(m_pid, SIGTERM);
        break;
    case Interrupt:
        ::kill(m_pid, SIGINT);
        break;
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
    if (m_pid <= 0)
        return double(m_usage.ru_utime.tv_sec + m_usage.ru_stime.tv_sec) +
               double(m_usage.ru_utime.tv_usec + m_usage.ru_stime.tv_usec) / 1e6;
    const QByteArray stat = ReadFile(QString("/proc/%1/stat").arg(m_pid));
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

QStringList ProgramRun::ErrorLines() const
{
    return vbtest::ErrorLines(err);
}

void ProgramRun::Note(const QString& problem)
{
    m_problems.append(problem);
}

QString ProgramRun::Check(int status, const QString& errorLine) const
{
    QStringList problems = m_problems;
    if (m_pid > 0)
        problems.append("still running");
    else if (crashed)
        problems.append("ended by a signal");
    else if (exitCode != status)
        problems.append(QString("status %1").arg(exitCode));
    const QStringList lines = ErrorLines();
    const bool expected =
        errorLine.isNull()
            ? err.isEmpty()
            : lines.size() == 1 && QRegularExpression("^(?:" + errorLine + ")$").match(lines[0]).hasMatch();
    if (!expected)
        problems.append("standard error: " + QString::fromLocal8Bit(err).trimmed());
    return problems.join("; ");
}

} // namespace vbtest
