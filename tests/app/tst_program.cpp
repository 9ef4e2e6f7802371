#include "TestSupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

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

    void unreadableSettingsFile()
    {
        QTemporaryDir config;
        QVERIFY(QDir(config.path()).mkdir("Lanternshade.ini"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config.path());
        const vbtest::ProcessResult result = vbtest::RunProgram({"/S"}, env);
        QCOMPARE(result.exitCode, 1);
        const QStringList lines = vbtest::ErrorLines(result.err);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].startsWith("vellumbright: Path/File access error: cannot read settings file ") &&
                     lines[0].contains("Lanternshade.ini"),
                 qPrintable(lines[0]));
    }
};

QTEST_MAIN(tst_Program)
#include "tst_program.moc"
