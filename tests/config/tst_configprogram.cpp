#include "TestSupport.h"
#include "platform/SettingsStore.h"

#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

// The real program's settings dialog ("/C") under the test's X server, driven with xdotool as a
// user at the keyboard would drive it.
class tst_ConfigProgram : public QObject
{
    Q_OBJECT

    // Runs an X tool and returns its standard output, trimmed.
    static QString Tool(const QString& program, const QStringList& arguments)
    {
        QProcess tool;
        tool.start(program, arguments);
        if (!tool.waitForFinished(10000)) {
            tool.kill();
            tool.waitForFinished();
        }
        return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
    }
    static void Keys(const QString& window, const QStringList& keys)
    {
        Tool("xdotool", {"windowfocus", "--sync", window});
        Tool("xdotool", QStringList{"key", "--delay", "30"} + keys);
    }

    // The program, started with "/C" on a settings folder of its own.
    struct Run
    {
        QTemporaryDir home;
        QString config;
        QString settings;
        QProcess process;

        bool Start(const QByteArray& content)
        {
            config = home.filePath("config");
            settings = config + "/Lanternshade.ini";
            if (!vbtest::WriteFile(settings, content))
                return false;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("XDG_CONFIG_HOME", config);
            process.setProcessEnvironment(env);
            process.start(QStringLiteral(VB_PROGRAM), {"/C"});
            return process.waitForStarted();
        }
        // The program's shown windows, newest last.
        QStringList Windows() const
        {
            const QString found =
                Tool("xdotool", {"search", "--onlyvisible", "--pid", QString::number(process.processId())});
            return found.isEmpty() ? QStringList() : found.split(u'\n');
        }
        bool Ended() { return process.state() == QProcess::NotRunning || process.waitForFinished(50); }
        ~Run()
        {
            if (process.state() != QProcess::NotRunning) {
                process.kill();
                process.waitForFinished();
            }
        }
    };

    static QString Value(const QString& settings, const QString& key)
    {
        return vb::SettingsStore(settings).Read().Value("Settings", key).value_or("<absent>");
    }

private slots:
    void initTestCase() { QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "this test needs an X server"); }

    void keyboardEditsAreSaved()
    {
        Run run;
        QVERIFY(run.Start("[Settings]\nNumDirs=3\nDir1=/pics/one\nDir2=/pics/two\nDir3=/pics/three\n"
                          "Interval=60\nShowFileNames=False\n"));
        QTRY_COMPARE_WITH_TIMEOUT(run.Windows().size(), 1, 15000);
        const QString window = run.Windows().first();

        // No title, 416 x 312, centred on the screen (no window manager here, so no frame), a
        // 64 x 64 icon.
        QStringList titles =
            Tool("xprop", {"-notype", "-id", window, "_NET_WM_NAME", "WM_NAME"}).split(u'\n');
        for (QString& line : titles)
            line = line.trimmed();
        QCOMPARE(titles, (QStringList{"_NET_WM_NAME =", "WM_NAME ="}));
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const QString geometry = Tool("xdotool", {"getwindowgeometry", window});
        const QString expected =
            QString("Position: %1,%2").arg((screen.width() - 416) / 2).arg((screen.height() - 312) / 2);
        QVERIFY2(geometry.contains(expected) && geometry.contains("Geometry: 416x312"), qPrintable(geometry));
        QVERIFY(Tool("xprop", {"-id", window, "_NET_WM_ICON"}).contains("Icon (64 x 64)"));

        // From OK: Cancel, the list (Down selects "/pics/two"), Add, Delete (pressed: the focus
        // moves on to the interval box), the check box, then Enter for OK.
        Keys(window,
             {"Tab", "Tab", "Down", "Tab", "Tab", "space", "ctrl+a", "1", "5", "Tab", "space", "Return"});
        QTRY_VERIFY_WITH_TIMEOUT(run.Ended(), 15000);
        QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process.exitCode(), 0);
        QCOMPARE(run.process.readAllStandardError(), QByteArray());

        QCOMPARE(Value(run.settings, "NumDirs"), QString("2"));
        QCOMPARE(Value(run.settings, "Dir1"), QString("/pics/one"));
        QCOMPARE(Value(run.settings, "Dir2"), QString("/pics/three"));
        QCOMPARE(Value(run.settings, "Dir3"), QString("<absent>"));
        QCOMPARE(Value(run.settings, "Interval"), QString("15"));
        QCOMPARE(Value(run.settings, "ShowFileNames"), QString("True"));
    }

    void escapeLeavesSettingsAlone()
    {
        Run run;
        const QByteArray content("[Settings]\nNumDirs=1\nDir1=/pics/one\nInterval=60\n");
        QVERIFY(run.Start(content));
        QTRY_COMPARE_WITH_TIMEOUT(run.Windows().size(), 1, 15000);
        Keys(run.Windows().first(), {"Tab", "Tab", "Down", "Tab", "Tab", "space", "Escape"});
        QTRY_VERIFY_WITH_TIMEOUT(run.Ended(), 15000);
        QCOMPARE(run.process.exitCode(), 0);
        QCOMPARE(vbtest::ReadFile(run.settings), content);
    }

    // The settings folder turns into a file while the dialog is open: the save fails, and that
    // is reported as an uncaught error: the message box, one line on standard error, status 1.
    void failedSaveEndsTheProgram()
    {
        Run run;
        QVERIFY(run.Start("[Settings]\nNumDirs=1\nDir1=/pics/one\n"));
        QTRY_COMPARE_WITH_TIMEOUT(run.Windows().size(), 1, 15000);
        const QString dialog = run.Windows().first();
        QVERIFY(QDir(run.config).removeRecursively());
        QVERIFY(vbtest::WriteFile(run.config, "not a folder"));

        Keys(dialog, {"Return"});
        QTRY_VERIFY_WITH_TIMEOUT(!run.Windows().isEmpty() && run.Windows().first() != dialog, 15000);
        const QStringList shown = run.Windows();
        QCOMPARE(shown.size(), 1); // the dialog is gone, the message box is up
        QCOMPARE(Tool("xdotool", {"getwindowname", shown.first()}), QStringLiteral("Vellumbright"));
        QVERIFY(!run.Ended());

        Keys(shown.first(), {"Return"});
        QTRY_VERIFY_WITH_TIMEOUT(run.Ended(), 15000);
        QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process.exitCode(), 1);
        const QStringList lines = vbtest::ErrorLines(run.process.readAllStandardError());
        QCOMPARE(lines.size(), 1);
        const QRegularExpression line("^vellumbright: Path/File access error: cannot write settings file "
                                      ".*Lanternshade\\.ini: cannot create the folder .*$");
        QVERIFY2(line.match(lines.first()).hasMatch(), qPrintable(lines.first()));
        QCOMPARE(vbtest::ReadFile(run.config), QByteArray("not a folder"));
    }
};

QTEST_MAIN(tst_ConfigProgram)
#include "tst_configprogram.moc"
