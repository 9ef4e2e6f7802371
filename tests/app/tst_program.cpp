#include "ProgramRun.h"
#include "ScreenChecks.h"
#include "TestSupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

// The real program, started as a user would start it, under the test's X server.
class tst_Program : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "this test needs an X server"); }

    // The runtime's report: status 1, one line on standard error, no window, the settings file
    // left as it was. No X server to be reached is reported so too, not with Qt's abort and a core
    // dump.
    void uncaughtErrorReport_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("display"); // null: the test's own
        QTest::addColumn<QString>("line");
        const QString file = "\\(.*/Lanternshade\\.ini\\)";
        const QString noServer =
            "vellumbright: Device I/O error: cannot connect to the X server \"%1\" \\(xcb error \\d+\\)";
        QTest::newRow("NumDirs abc") << QByteArray("[Settings]\nNumDirs=abc\n") << QStringList{"/S"}
                                     << QString()
                                     << "vellumbright: Type mismatch: setting NumDirs holds \"abc\" " + file;
        QTest::newRow("NumDirs 40000")
            << QByteArray("[Settings]\nNumDirs=40000\n") << QStringList{"/S"} << QString()
            << "vellumbright: Overflow: setting NumDirs holds \"40000\" " + file;
        QTest::newRow("Interval") << QByteArray("[Settings]\nInterval=soon\n") << QStringList{"/p", "12"}
                                  << QString()
                                  << "vellumbright: Type mismatch: setting Interval holds \"soon\" " + file;
        QTest::newRow("/P alone") << QByteArray() << QStringList{"/P"} << QString()
                                  << "vellumbright: Type mismatch: .*\"/P\".*";
        QTest::newRow("/P 12x") << QByteArray() << QStringList{"/P", "12x"} << QString()
                                << "vellumbright: Type mismatch: .*\"/P 12X\".*";
        QTest::newRow("/P overflow") << QByteArray() << QStringList{"/P", "99999999999"} << QString()
                                     << "vellumbright: Overflow: .*99999999999.*";
        QTest::newRow("DISPLAY empty") << QByteArray() << QStringList{"/S"} << "" << noServer.arg("");
        QTest::newRow("no server at the display")
            << QByteArray() << QStringList{"/S"} << ":65000" << noServer.arg(":65000");
    }
    void uncaughtErrorReport()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, arguments);
        QFETCH(QString, display);
        QFETCH(QString, line);
        vbtest::ProgramRun run(settings.isEmpty() ? std::nullopt : std::optional(settings));
        if (!display.isNull())
            run.SetDisplay(display);
        vbtest::MapWatch watch;
        QVERIFY(watch.Start());
        run.Run(arguments);
        QCOMPARE(run.Check(1, line), QString());
        QCOMPARE(watch.Maps(), 0);
        if (!settings.isEmpty())
            QCOMPARE(vbtest::ReadFile(run.SettingsFile()), settings);
    }

    // Trouble in the files, tried as an ordinary user with a preview of a window that does not
    // exist, which ends with status 0 right after start-up. The settings file is no file, cannot
    // be read, or lies in a folder nobody may write: the first two stop start-up with the
    // runtime's report, the third is fine, as start-up only reads. A pipe or a device is no file
    // either, and a folder that may not be searched is as unreadable as the file; a link to a file
    // not made yet means no settings. A stored folder that was deleted or replaced by a file adds
    // no pictures and starts as usual; one that cannot be listed costs a warning, not the start.
    void troubledFiles_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("line"); // null: nothing on standard error
        const QString cause = "vellumbright: %1: cannot read settings file .*/Lanternshade\\.ini: %2";
        const QString access = "Path/File access error", denied = "Permission denied";
        QTest::newRow("a folder") << "folder" << 1 << cause.arg(access, "it is a folder");
        QTest::newRow("unreadable") << "unreadable" << 1 << cause.arg(denied, ".*");
        QTest::newRow("in a read-only folder") << "read-only folder" << 0 << QString();
        QTest::newRow("a pipe") << "pipe" << 1 << cause.arg(access, "it is not a regular file");
        QTest::newRow("a link to a device") << "device" << 1 << cause.arg(access, "it is not a regular file");
        QTest::newRow("in a folder that may not be searched")
            << "unsearchable folder" << 1 << cause.arg(denied, denied);
        QTest::newRow("a link to nothing yet") << "dangling link" << 0 << QString();
        QTest::newRow("deleted") << "folder deleted" << 0 << QString();
        QTest::newRow("replaced by a file") << "folder replaced by a file" << 0 << QString();
        QTest::newRow("cannot be listed")
            << "folder locked" << 0
            << "vellumbright: warning: cannot list folder \"PICTURES/\": Permission denied.*";
    }
    void troubledFiles()
    {
        QFETCH(QString, trouble);
        QFETCH(int, status);
        QFETCH(QString, line);
        vbtest::ProgramRun run;
        const QString config = run.ConfigFolder(), file = run.SettingsFile(), pictures = run.Path("pictures");
        const QByteArray name = QFile::encodeName(file);
        QVERIFY(vbtest::WriteFile(pictures + "/a.bmp", "BM"));
        if (trouble == "folder")
            QVERIFY(QDir().mkpath(file));
        else
            QVERIFY(vbtest::WriteFile(file, trouble.startsWith("folder ") ? vbtest::SettingsFor({pictures})
                                                                          : "[Settings]\nNumDirs=0\n"));
        if (trouble == "pipe" || trouble == "device" || trouble == "dangling link")
            QVERIFY(QFile::remove(file));
        if (trouble == "pipe")
            QCOMPARE(mkfifo(name.constData(), 0600), 0);
        if (trouble == "device")
            QCOMPARE(symlink("/dev/zero", name.constData()), 0);
        if (trouble == "dangling link")
            QCOMPARE(symlink("not-yet.ini", name.constData()), 0);
        if (trouble == "folder deleted" || trouble == "folder replaced by a file")
            QVERIFY(QDir(pictures).removeRecursively());
        if (trouble == "folder replaced by a file")
            QVERIFY(vbtest::WriteFile(pictures, "not a folder"));
        QVERIFY(run.AsUser());
        if (trouble == "unsearchable folder")
            QVERIFY(QFile::setPermissions(config, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        if (trouble == "unreadable")
            QVERIFY(QFile::setPermissions(file, QFileDevice::WriteOwner));
        if (trouble == "read-only folder")
            QVERIFY(QFile::setPermissions(config, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        if (trouble == "folder locked")
            QVERIFY(QFile::setPermissions(pictures, QFileDevice::WriteOwner));

        run.Run({"/P", "536870656"});
        QCOMPARE(run.Check(status, line.replace("PICTURES", QRegularExpression::escape(pictures))),
                 QString());
    }
};

QTEST_MAIN(tst_Program)
#include "tst_program.moc"
