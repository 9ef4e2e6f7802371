#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QTemporaryDir;

namespace vbtest {

// The settings file of a user who chose `folders`, with `more` lines after them.
QByteArray SettingsFor(const QStringList& folders, const QByteArray& more = QByteArray());

// One run of the real program (VB_PROGRAM) in a scratch folder of its own, which is its HOME:
// XDG_CONFIG_HOME is its "config" (holding the settings file, if given), XDG_CACHE_HOME its
// "cache" (where the picture index goes, kept for a run beside it), XDG_RUNTIME_DIR its
// "runtime" (mode 0700). The rest of the environment is the test's own, its display included:
// SetDisplay gives another one or none, SetEnv("QT_QPA_PLATFORM", "offscreen") the offscreen
// platform.
//
// Every step a test asks for (Start, WaitForScreen, End, Finish) returns whether it went as
// asked and notes what did not; Check() sums it all up with the end the test expects.
class ProgramRun
{
public:
    // `settings`: what Lanternshade.ini holds; none: there is no such file.
    explicit ProgramRun(const std::optional<QByteArray>& settings = std::nullopt);
    // Another run with the same set-up, in the same scratch folder (the same settings file and
    // instance registry), not started yet.
    ProgramRun(const ProgramRun& beside);
    ProgramRun& operator=(const ProgramRun&) = delete;
    // A run still going is killed.
    ~ProgramRun();

    // The scratch folder, or a path in it.
    QString Path(const QString& name = QString()) const;
    QString ConfigFolder() const { return Path("config"); }
    QString SettingsFile() const { return Path("config/Lanternshade.ini"); }

    // Set-up, before Start.
    void SetEnv(const QString& name, const QString& value) { m_environment.insert(name, value); }
    void UnsetEnv(const QString& name) { m_environment.remove(name); }
    // The X display the program connects to; empty: none at all.
    void SetDisplay(const QString& display) { SetEnv("DISPLAY", display); }
    // Another program in its place, such as the test itself in a child mode.
    void SetProgram(const QString& program) { m_program = program; }
    // Runs it as an ordinary user, who is given the scratch folder and everything in it, so call
    // it once the files are in place. Permissions do not stop root, so what a user cannot read or
    // write is tried so: when the tests run as root, as "nobody" (65534, no supplementary
    // groups) through setpriv, which keeps the process id; otherwise as the test's own user.
    bool AsUser();

    bool Start(const QStringList& arguments);
    // Whether it still runs; once it has ended, its results are read.
    bool Running();
    // Waits up to `timeoutMs` for its end, and leaves it running after; true when it ended.
    bool EndsWithin(int timeoutMs);
    // Waits for its end, up to `timeoutMs`, then kills it; true when it ended by itself.
    bool Finish(int timeoutMs = 20000);
    // Start and Finish.
    bool Run(const QStringList& arguments, int timeoutMs = 20000);

    // Waits while it runs until `shown` holds for a screenshot of its display (the root window,
    // or `window`), which stays in `screenshot`. The wait is no bound of the program's, so it grows
    // with the sanitizers' slowness.
    bool WaitForScreen(const std::function<bool(const QImage&)>& shown, const QString& window = "root",
                       int timeoutMs = 10000 * VB_TIME_SCALE);

    // How a user or a daemon ends a run. Move is a move of the pointer, which the program takes as
    // where the pointer is, then a move by one pixel after 700 ms, which must end it.
    enum Ending { Key, Click, Wheel, Move, Term, Interrupt };
    // Ends it so, and waits up to `timeoutMs` for its end.
    bool End(Ending ending, int timeoutMs = 5000);
    // Start, WaitForScreen and End: the run of a screen saver that showed `shown` before the end.
    bool ShowThenEnd(const QStringList& arguments, const std::function<bool(const QImage&)>& shown,
                     Ending ending);

    qint64 Pid() const { return m_process.processId(); }
    // Milliseconds since it started.
    qint64 SinceStart() const { return m_started.elapsed(); }
    // Processor time used, in seconds, so far; once it has ended, as last seen while it ran (every
    // wait above looks every few milliseconds).
    double CpuSeconds() const;

    // What it left.
    int exitCode = -1;
    bool crashed = false; // ended by a signal, or killed
    bool timedOut = false;
    QByteArray out;
    QByteArray err;
    QImage screenshot;
    // The non-empty lines of standard error.
    QStringList ErrorLines() const;
    // Empty when every step went as asked and the run ended by itself with `status`, having
    // written to standard error exactly `lineCount` lines that each match `errorLine` (a regular
    // expression) or, where that is null, nothing at all; else what differed.
    QString Check(int status, const QString& errorLine = QString(), int lineCount = 1) const;

private:
    void Note(const QString& problem) { m_problems.append(problem); }

    std::shared_ptr<QTemporaryDir> m_scratch;
    QProcessEnvironment m_environment;
    QString m_program;
    bool m_asUser = false;
    QProcess m_process;
    bool m_ended = false;
    qint64 m_pid = 0;
    QElapsedTimer m_started;
    double m_cpuSeconds = 0; // at the last look while it ran
    QStringList m_problems;
};

} // namespace vbtest
