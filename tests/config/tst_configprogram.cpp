#include "TestSupport.h"
#include "settings/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
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

        // `asUser`: as an ordinary user, who owns the folders (vbtest::ProgramAsUser).
        bool Start(const QByteArray& content, bool asUser = false)
        {
            config = home.filePath("config");
            settings = config + "/Lanternshade.ini";
            if (!vbtest::WriteFile(settings, content) || (asUser && !vbtest::GiveToUser(home.path())))
                return false;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            if (asUser)
                env = vbtest::EnvironmentForUser(env, home.path());
            env.insert("XDG_CONFIG_HOME", config);
            process.setProcessEnvironment(env);
            if (asUser)
                process.start(vbtest::ProgramAsUser(), vbtest::ArgumentsAsUser({"/C"}));
            else
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
        // goes back to the list), Add, the interval box (Delete is disabled now), the check box,
        // then Enter for OK.
        Keys(window, {"Tab", "Tab", "Down", "Tab", "Tab", "space", "Tab", "Tab", "ctrl+a", "1", "5", "Tab",
                      "space", "Return"});
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

    // While the dialog is open the settings file stops being writable: the save fails, and that
    // is reported as an uncaught error (the message box, one line on standard error, status 1);
    // the file is left as it was and no temporary file stays behind. As an ordinary user.
    void failedSaveEndsTheProgram_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<QString>("line");
        const QString write = "cannot write settings file .*Lanternshade\\.ini: ";
        const QString read = "cannot read settings file .*Lanternshade\\.ini: ";
        QTest::newRow("settings folder replaced by a file")
            << "folder is a file"
            << "Path/File access error: " + write + "cannot create the folder .*";
        QTest::newRow("settings file replaced by a folder")
            << "file is a folder"
            << "Path/File access error: " + read + "it is a folder";
        QTest::newRow("settings file unreadable") << "unreadable"
                                                  << "Permission denied: " + read + ".*";
        QTest::newRow("settings folder read-only")
            << "read-only folder"
            << "Permission denied: " + write + "cannot create its lock file";
    }
    void failedSaveEndsTheProgram()
    {
        QFETCH(QString, trouble);
        QFETCH(QString, line);
        Run run;
        const QByteArray content("[Settings]\nNumDirs=1\nDir1=/pics/one\n");
        QVERIFY(run.Start(content, true));
        QTRY_COMPARE_WITH_TIMEOUT(run.Windows().size(), 1, 15000);
        const QString dialog = run.Windows().first();
        const auto rwx = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
        if (trouble == "folder is a file") {
            QVERIFY(QDir(run.config).removeRecursively());
            QVERIFY(vbtest::WriteFile(run.config, "not a folder"));
        } else if (trouble == "file is a folder") {
            QVERIFY(QFile::remove(run.settings));
            QVERIFY(QDir().mkdir(run.settings));
        } else if (trouble == "unreadable") {
            QVERIFY(QFile::setPermissions(run.settings, QFileDevice::WriteOwner));
        } else {
            QVERIFY(QFile::setPermissions(run.config, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        }
        const QStringList before =
            QDir(run.config).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

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
        QVERIFY2(QRegularExpression("^vellumbright: " + line + "$").match(lines.first()).hasMatch(),
                 qPrintable(lines.first()));

        // Nothing half-written: the same entries as before (the empty lock file aside), and the
        // file as it was.
        QStringList after =
            QDir(run.config).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        after.removeOne(QStringLiteral("Lanternshade.ini.lock"));
        QCOMPARE(after, before);
        QFile::setPermissions(run.config, rwx);
        QFile::setPermissions(run.settings, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (trouble == "folder is a file")
            QCOMPARE(vbtest::ReadFile(run.config), QByteArray("not a folder"));
        else if (trouble == "file is a folder")
            QVERIFY(QFileInfo(run.settings).isDir());
        else
            QCOMPARE(vbtest::ReadFile(run.settings), content);
    }

    // A listed folder that was deleted, replaced by a file or made unlistable while the dialog
    // is open: OK scans what it can, saves the folder as listed and ends normally, silently.
    void okWithFolderGone_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("deleted") << "deleted";
        QTest::newRow("replaced by a file") << "file";
        QTest::newRow("cannot be listed") << "locked";
    }
    void okWithFolderGone()
    {
        QFETCH(QString, change);
        Run run;
        const QString pictures = run.home.filePath("pictures");
        QVERIFY(vbtest::WriteFile(pictures + "/a.bmp", "BM"));
        QVERIFY(run.Start("[Settings]\nNumDirs=1\nDir1=" + pictures.toUtf8() + "\n", true));
        QTRY_COMPARE_WITH_TIMEOUT(run.Windows().size(), 1, 15000);
        if (change == "locked") {
            QVERIFY(QFile::setPermissions(pictures, QFileDevice::WriteOwner));
        } else {
            QVERIFY(QDir(pictures).removeRecursively());
            if (change == "file")
                QVERIFY(vbtest::WriteFile(pictures, "not a folder"));
        }

        Keys(run.Windows().first(), {"Return"});
        QTRY_VERIFY_WITH_TIMEOUT(run.Ended(), 15000);
        QFile::setPermissions(pictures,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process.exitCode(), 0);
        QCOMPARE(run.process.readAllStandardError(), QByteArray());
        QCOMPARE(Value(run.settings, "NumDirs"), QString("1"));
        QCOMPARE(Value(run.settings, "Dir1"), pictures);
    }
};

QTEST_MAIN(tst_ConfigProgram)
#include "tst_configprogram.moc"
