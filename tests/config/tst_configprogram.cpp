#include "ProgramRun.h"
#include "TestSupport.h"
#include "settings/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
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

    // The shown windows of a run, newest last.
    static QStringList Windows(const vbtest::ProgramRun& run)
    {
        const QString found =
            Tool("xdotool", {"search", "--onlyvisible", "--pid", QString::number(run.Pid())});
        return found.isEmpty() ? QStringList() : found.split(u'\n');
    }
    // Starts the run with "/C" and returns its dialog once it shows; empty when it did not.
    static QString Dialog(vbtest::ProgramRun& run)
    {
        // One look at a time: the list can change between two.
        QStringList windows;
        const bool up =
            run.Start({"/C"}) && QTest::qWaitFor([&] { return (windows = Windows(run)).size() == 1; }, 15000);
        return up ? windows.first() : QString();
    }

    // What the settings file holds for `keys`.
    static QStringList Values(const QString& settings, const QStringList& keys)
    {
        const vb::IniDocument doc = vb::SettingsStore(settings).Read();
        QStringList values;
        for (const QString& key : keys)
            values.append(doc.Value("Settings", key).value_or("<absent>"));
        return values;
    }

private slots:
    void initTestCase() { QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "this test needs an X server"); }

    void keyboardEditsAreSaved()
    {
        vbtest::ProgramRun run(vbtest::SettingsFor({"/pics/one", "/pics/two", "/pics/three"},
                                                   "Interval=60\nShowFileNames=False\n"));
        const QString window = Dialog(run);
        QVERIFY(!window.isEmpty());

        // No title, 416 x 360 (the design's 312 and the idle watcher's rows), centred on the screen (no
        // window manager here, so no frame), a 64 x 64 icon.
        QStringList titles =
            Tool("xprop", {"-notype", "-id", window, "_NET_WM_NAME", "WM_NAME"}).split(u'\n');
        for (QString& line : titles)
            line = line.trimmed();
        QCOMPARE(titles, (QStringList{"_NET_WM_NAME =", "WM_NAME ="}));
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const QString geometry = Tool("xdotool", {"getwindowgeometry", window});
        const QString expected =
            QString("Position: %1,%2").arg((screen.width() - 416) / 2).arg((screen.height() - 360) / 2);
        QVERIFY2(geometry.contains(expected) && geometry.contains("Geometry: 416x360"), qPrintable(geometry));
        QVERIFY(Tool("xprop", {"-id", window, "_NET_WM_ICON"}).contains("Icon (64 x 64)"));

        // From OK: Cancel, the list (Down selects "/pics/two"), Add, Delete (pressed: the focus
        // goes back to the list), Add, the interval box (Delete is disabled now), the check box,
        // Options..., the minutes, then Enter for OK.
        Keys(window, {"Tab", "Tab", "Down", "Tab", "Tab", "space", "Tab", "Tab", "ctrl+a", "1", "5", "Tab",
                      "space", "Tab", "Tab", "ctrl+a", "2", "5", "Return"});
        run.Finish(15000);
        QCOMPARE(run.Check(0), QString());
        QCOMPARE(Values(run.SettingsFile(), {"NumDirs", "Dir1", "Dir2", "Dir3", "Interval", "ShowFileNames",
                                             "StartAfterMinutes", "StartAutomatically"}),
                 (QStringList{"2", "/pics/one", "/pics/three", "<absent>", "15", "True", "25", "<absent>"}));
    }

    void escapeLeavesSettingsAlone()
    {
        const QByteArray content("[Settings]\nNumDirs=1\nDir1=/pics/one\nInterval=60\n");
        vbtest::ProgramRun run(content);
        const QString window = Dialog(run);
        QVERIFY(!window.isEmpty());
        Keys(window, {"Tab", "Tab", "Down", "Tab", "Tab", "space", "Escape"});
        run.Finish(15000);
        QCOMPARE(run.Check(0), QString());
        QCOMPARE(vbtest::ReadFile(run.SettingsFile()), content);
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
        const QByteArray content("[Settings]\nNumDirs=1\nDir1=/pics/one\n");
        vbtest::ProgramRun run(content);
        const QString config = run.ConfigFolder(), settings = run.SettingsFile();
        QVERIFY(run.AsUser());
        const QString dialog = Dialog(run);
        QVERIFY(!dialog.isEmpty());
        if (trouble == "folder is a file") {
            QVERIFY(QDir(config).removeRecursively());
            QVERIFY(vbtest::WriteFile(config, "not a folder"));
        } else if (trouble == "file is a folder") {
            QVERIFY(QFile::remove(settings));
            QVERIFY(QDir().mkdir(settings));
        } else if (trouble == "unreadable") {
            QVERIFY(QFile::setPermissions(settings, QFileDevice::WriteOwner));
        } else {
            QVERIFY(QFile::setPermissions(config, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        }
        const QStringList before =
            QDir(config).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

        Keys(dialog, {"Return"});
        QStringList shown;
        QTRY_VERIFY_WITH_TIMEOUT(!(shown = Windows(run)).isEmpty() && shown.first() != dialog, 15000);
        shown = Windows(run);
        QCOMPARE(shown.size(), 1); // the dialog is gone, the message box is up
        QCOMPARE(Tool("xdotool", {"getwindowname", shown.first()}), QStringLiteral("Vellumbright"));
        QVERIFY(!run.EndsWithin(50));

        Keys(shown.first(), {"Return"});
        run.Finish(15000);
        QCOMPARE(run.Check(1, "vellumbright: " + line), QString());

        // Nothing half-written: the same entries as before (the empty lock file aside), and the
        // file as it was.
        QStringList after = QDir(config).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        after.removeOne(QStringLiteral("Lanternshade.ini.lock"));
        QCOMPARE(after, before);
        QFile::setPermissions(config,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QFile::setPermissions(settings, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (trouble == "folder is a file")
            QCOMPARE(vbtest::ReadFile(config), QByteArray("not a folder"));
        else if (trouble == "file is a folder")
            QVERIFY(QFileInfo(settings).isDir());
        else
            QCOMPARE(vbtest::ReadFile(settings), content);
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
        vbtest::ProgramRun run;
        const QString pictures = run.Path("pictures");
        QVERIFY(vbtest::WriteFile(pictures + "/a.bmp", "BM"));
        QVERIFY(vbtest::WriteFile(run.SettingsFile(), vbtest::SettingsFor({pictures})));
        QVERIFY(run.AsUser());
        const QString dialog = Dialog(run);
        QVERIFY(!dialog.isEmpty());
        if (change == "locked") {
            QVERIFY(QFile::setPermissions(pictures, QFileDevice::WriteOwner));
        } else {
            QVERIFY(QDir(pictures).removeRecursively());
            if (change == "file")
                QVERIFY(vbtest::WriteFile(pictures, "not a folder"));
        }

        Keys(dialog, {"Return"});
        run.Finish(15000);
        QCOMPARE(run.Check(0), QString());
        QCOMPARE(Values(run.SettingsFile(), {"NumDirs", "Dir1"}), (QStringList{"1", pictures}));
    }
};

QTEST_MAIN(tst_ConfigProgram)
#include "tst_configprogram.moc"
