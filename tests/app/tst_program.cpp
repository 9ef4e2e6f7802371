#include "TestSupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <sys/stat.h>
#include <unistd.h>

// The real program, started as a user would start it, under the test's X server.
class tst_Program : public QObject
{
    Q_OBJECT

    // Watches the root window for windows being mapped while it lives.
    struct MapWatch
    {
        QProcess xev;
        bool Start()
        {
            xev.start("xev", {"-root", "-event", "substructure"});
            if (!xev.waitForStarted())
                return false;
            // xev says nothing until an event comes: make one, an unmapped window of our own, and
            // wait until xev has reported it, so that it is known to be listening.
            QByteArray seen;
            for (int i = 0; i < 50 && !seen.contains("CreateNotify"); ++i) {
                QWindow probe;
                probe.create();
                xev.waitForReadyRead(100);
                seen += xev.readAllStandardOutput();
            }
            return seen.contains("CreateNotify");
        }
        int Maps()
        {
            QTest::qWait(200);
            xev.terminate();
            xev.waitForFinished();
            return int(xev.readAllStandardOutput().count("MapNotify event"));
        }
    };

private slots:
    void initTestCase() { QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "this test needs an X server"); }

    // The runtime's report: status 1, one line on standard error, no window.
    void uncaughtErrorReport_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("line");
        const QString file = "\\(.*/Lanternshade\\.ini\\)";
        QTest::newRow("NumDirs abc") << QByteArray("[Settings]\nNumDirs=abc\n") << QStringList{"/S"}
                                     << "vellumbright: Type mismatch: setting NumDirs holds \"abc\" " + file;
        QTest::newRow("NumDirs 40000") << QByteArray("[Settings]\nNumDirs=40000\n") << QStringList{"/S"}
                                       << "vellumbright: Overflow: setting NumDirs holds \"40000\" " + file;
        QTest::newRow("Interval") << QByteArray("[Settings]\nInterval=soon\n") << QStringList{"/p", "12"}
                                  << "vellumbright: Type mismatch: setting Interval holds \"soon\" " + file;
        QTest::newRow("/P alone") << QByteArray() << QStringList{"/P"}
                                  << "vellumbright: Type mismatch: .*\"/P\".*";
        QTest::newRow("/P 12x") << QByteArray() << QStringList{"/P", "12x"}
                                << "vellumbright: Type mismatch: .*\"/P 12X\".*";
        QTest::newRow("/P overflow") << QByteArray() << QStringList{"/P", "99999999999"}
                                     << "vellumbright: Overflow: .*99999999999.*";
    }
    void uncaughtErrorReport()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, arguments);
        QFETCH(QString, line);
        QTemporaryDir config;
        if (!settings.isEmpty())
            QVERIFY(vbtest::WriteFile(config.filePath("Lanternshade.ini"), settings));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config.path());

        MapWatch watch;
        QVERIFY(watch.Start());
        const vbtest::ProcessResult result = vbtest::RunProgram(arguments, env);
        QVERIFY(!result.crashed && !result.timedOut);
        QCOMPARE(result.exitCode, 1);
        const QStringList lines = vbtest::ErrorLines(result.err);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(QRegularExpression("^" + line + "$").match(lines[0]).hasMatch(), qPrintable(lines[0]));
        QCOMPARE(watch.Maps(), 0);
        if (!settings.isEmpty())
            QCOMPARE(vbtest::ReadFile(config.filePath("Lanternshade.ini")), settings);
    }

    // No X server to be reached: one report line and status 1, not Qt's abort with a core dump.
    void noXServer_data()
    {
        QTest::addColumn<QString>("display");
        QTest::newRow("DISPLAY empty") << "";
        QTest::newRow("no server at the display") << ":65000";
    }
    void noXServer()
    {
        QFETCH(QString, display);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        const vbtest::ProcessResult result = vbtest::RunProgram({"/S"}, env);
        QVERIFY(!result.crashed && !result.timedOut);
        QCOMPARE(result.exitCode, 1);
        const QStringList lines = vbtest::ErrorLines(result.err);
        QCOMPARE(lines.size(), 1);
        const QRegularExpression line("^vellumbright: Device I/O error: cannot connect to the X server \"" +
                                      QRegularExpression::escape(display) + "\" \\(xcb error \\d+\\)$");
        QVERIFY2(line.match(lines[0]).hasMatch(), qPrintable(lines[0]));
    }

    // The settings file is no file, cannot be read, or lies in a folder nobody may write: the
    // first two stop start-up with the runtime's report, the third is fine, as start-up only
    // reads. A pipe or a device is no file either, and a folder that may not be searched is as
    // unreadable as the file; a link to a file not made yet means no settings. Each is tried
    // as an ordinary user.
    void troubledSettingsFile_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("line"); // empty: nothing on standard error
        const QString cause = "cannot read settings file .*/Lanternshade\\.ini: ";
        QTest::newRow("a folder") << "folder" << 1
                                  << "vellumbright: Path/File access error: " + cause + "it is a folder";
        QTest::newRow("unreadable") << "unreadable" << 1
                                    << "vellumbright: Permission denied: " + cause + ".*";
        QTest::newRow("in a read-only folder") << "read-only folder" << 0 << QString();
        QTest::newRow("a pipe") << "pipe" << 1
                                << "vellumbright: Path/File access error: " + cause +
                                       "it is not a regular file";
        QTest::newRow("a link to a device")
            << "device" << 1 << "vellumbright: Path/File access error: " + cause + "it is not a regular file";
        QTest::newRow("in a folder that may not be searched")
            << "unsearchable folder" << 1
            << "vellumbright: Permission denied: " + cause + "Permission denied";
        QTest::newRow("a link to nothing yet") << "dangling link" << 0 << QString();
    }
    void troubledSettingsFile()
    {
        QFETCH(QString, trouble);
        QFETCH(int, status);
        QFETCH(QString, line);
        QTemporaryDir scratch;
        const QString config = scratch.filePath("config");
        const QString file = config + "/Lanternshade.ini";
        const QByteArray name = QFile::encodeName(file);
        if (trouble == "folder")
            QVERIFY(QDir().mkpath(file));
        else
            QVERIFY(vbtest::WriteFile(file, "[Settings]\nNumDirs=0\n"));
        if (trouble == "pipe" || trouble == "device" || trouble == "dangling link")
            QVERIFY(QFile::remove(file));
        if (trouble == "pipe")
            QCOMPARE(mkfifo(name.constData(), 0600), 0);
        if (trouble == "device")
            QCOMPARE(symlink("/dev/zero", name.constData()), 0);
        if (trouble == "dangling link")
            QCOMPARE(symlink("not-yet.ini", name.constData()), 0);
        QVERIFY(vbtest::GiveToUser(scratch.path()));
        if (trouble == "unsearchable folder")
            QVERIFY(QFile::setPermissions(config, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        if (trouble == "unreadable")
            QVERIFY(QFile::setPermissions(file, QFileDevice::WriteOwner));
        if (trouble == "read-only folder")
            QVERIFY(QFile::setPermissions(config, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QProcessEnvironment env =
            vbtest::EnvironmentForUser(QProcessEnvironment::systemEnvironment(), scratch.path());
        env.insert("XDG_CONFIG_HOME", config);

        // A preview of a window that does not exist ends with status 0 right after start-up.
        const vbtest::ProcessResult result = vbtest::RunProgram({"/P", "536870656"}, env, 20000, true);
        QFile::setPermissions(config,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        // Only the unreadable file had its mode changed; the links must not pass a change on.
        if (trouble == "unreadable")
            QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QVERIFY(!result.crashed && !result.timedOut);
        QCOMPARE(result.exitCode, status);
        const QStringList lines = vbtest::ErrorLines(result.err);
        QCOMPARE(lines.size(), line.isEmpty() ? 0 : 1);
        if (!line.isEmpty())
            QVERIFY2(QRegularExpression("^" + line + "$").match(lines[0]).hasMatch(), qPrintable(lines[0]));
    }

    // A stored folder that was deleted or replaced by a file adds no pictures and starts as
    // usual; one that cannot be listed costs a warning, not the start. Tried as an ordinary user.
    void storedFolderGone_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("warnings");
        QTest::newRow("deleted") << "deleted" << 0;
        QTest::newRow("replaced by a file") << "file" << 0;
        QTest::newRow("cannot be listed") << "locked" << 1;
    }
    void storedFolderGone()
    {
        QFETCH(QString, change);
        QFETCH(int, warnings);
        QTemporaryDir scratch;
        const QString pictures = scratch.filePath("pictures");
        QVERIFY(vbtest::WriteFile(pictures + "/a.bmp", "BM"));
        QVERIFY(vbtest::WriteFile(scratch.filePath("config/Lanternshade.ini"),
                                  "[Settings]\nNumDirs=1\nDir1=" + pictures.toUtf8() + "\n"));
        if (change != "locked")
            QVERIFY(QDir(pictures).removeRecursively());
        if (change == "file")
            QVERIFY(vbtest::WriteFile(pictures, "not a folder"));
        QVERIFY(vbtest::GiveToUser(scratch.path()));
        if (change == "locked")
            QVERIFY(QFile::setPermissions(pictures, QFileDevice::WriteOwner));
        QProcessEnvironment env =
            vbtest::EnvironmentForUser(QProcessEnvironment::systemEnvironment(), scratch.path());
        env.insert("XDG_CONFIG_HOME", scratch.filePath("config"));

        const vbtest::ProcessResult result = vbtest::RunProgram({"/P", "536870656"}, env, 20000, true);
        QFile::setPermissions(pictures,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY(!result.crashed && !result.timedOut);
        QCOMPARE(result.exitCode, 0);
        const QStringList lines = vbtest::ErrorLines(result.err);
        QCOMPARE(lines.size(), warnings);
        if (warnings)
            QVERIFY2(lines[0].startsWith("vellumbright: warning: cannot list folder \"" + pictures +
                                         "/\": Permission denied"),
                     qPrintable(lines[0]));
    }
};

QTEST_MAIN(tst_Program)
#include "tst_program.moc"
