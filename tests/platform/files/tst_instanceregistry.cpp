#include "ProgramRun.h"
#include "TestSupport.h"
#include "platform/files/InstanceRegistry.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using namespace vb;

namespace {

// Child mode: register in the folder given with a window caption, say so, and hold on until stdin
// closes.
int Hold(const char* folder)
{
    InstanceRegistry registry(QString::fromLocal8Bit(folder));
    if (!registry.Register())
        return 2;
    registry.Record(QStringLiteral("ScreenSaver"),
                    {QStringLiteral("Lanternshade/S"), QStringLiteral("x\ny")});
    std::puts("registered");
    std::fflush(stdout);
    char buffer[16];
    while (read(0, buffer, sizeof buffer) > 0) {
    }
    return 0;
}

// Child mode: print the folder the registry chooses.
int Choose(const char* runtime, const char* fallback)
{
    std::fputs(qPrintable(InstanceRegistry::ChooseFolder(QString::fromLocal8Bit(runtime),
                                                         QString::fromLocal8Bit(fallback))),
               stdout);
    return 0;
}

} // namespace

class tst_InstanceRegistry : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    bool StartHolder(QProcess& process)
    {
        process.start(QCoreApplication::applicationFilePath(), {"--hold", m_dir.path()});
        return process.waitForStarted() && process.waitForReadyRead(10000) &&
               process.readAllStandardOutput().startsWith("registered");
    }

private slots:
    void alone()
    {
        InstanceRegistry registry(m_dir.path());
        QVERIFY(!registry.PrevInstance());
        QVERIFY(registry.Register());
        QVERIFY(!registry.PrevInstance());
    }

    // The other process is noticed while it runs and not after it ended, whichever way it ended.
    void otherProcess_data()
    {
        QTest::addColumn<bool>("kill");
        QTest::newRow("ends normally") << false;
        QTest::newRow("killed") << true;
    }
    void otherProcess()
    {
        QFETCH(bool, kill);
        InstanceRegistry registry(m_dir.path());
        QVERIFY(registry.Register());
        QProcess holder;
        QVERIFY(StartHolder(holder));
        QVERIFY(registry.PrevInstance());
        QCOMPARE(registry.FindCaption("Lanternshade/S"), holder.processId());
        QCOMPARE(registry.FindCaption("x y"), holder.processId());
        QCOMPARE(registry.FindCaption("Preview"), 0);
        QCOMPARE(registry.FindCaption(""), 0);
        if (kill) {
            ::kill(pid_t(holder.processId()), SIGKILL);
        } else {
            holder.closeWriteChannel();
        }
        QVERIFY(holder.waitForFinished());
        QVERIFY(!registry.PrevInstance());
        QCOMPARE(registry.FindCaption("Lanternshade/S"), 0);
        // A killed holder's file is tidied away by the next look.
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot).size(), 1);
    }

    void staleFileDoesNotCount()
    {
        QVERIFY(vbtest::WriteFile(m_dir.filePath("instance-999999"), ""));
        InstanceRegistry registry(m_dir.path());
        QVERIFY(registry.Register());
        QVERIFY(!registry.PrevInstance());
        QVERIFY(!QFile::exists(m_dir.filePath("instance-999999")));
    }

    // Where the registry lives, decided as an ordinary user: the runtime folder when it can hold
    // a private folder, else the fallback; never nowhere.
    void chooseFolder_data()
    {
        QTest::addColumn<QString>("runtime"); // relative to the scratch folder, "" for unset
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("usesRuntime");
        QTest::newRow("usable") << "run"
                                << "" << true;
        QTest::newRow("unset") << ""
                               << "" << false;
        QTest::newRow("relative") << "relative"
                                  << "" << false;
        QTest::newRow("missing") << "gone"
                                 << "" << false;
        QTest::newRow("not writable") << "run"
                                      << "read-only" << false;
        QTest::newRow("a file in the way") << "run"
                                           << "file" << false;
        QTest::newRow("open to others") << "run"
                                        << "mode 777" << true;
    }
    void chooseFolder()
    {
        QFETCH(QString, runtime);
        QFETCH(QString, setup);
        QFETCH(bool, usesRuntime);
        vbtest::ProgramRun child;
        child.SetProgram(QCoreApplication::applicationFilePath());
        const QString run = child.Path("run");
        QVERIFY(QDir().mkpath(run));
        if (setup == "file")
            QVERIFY(vbtest::WriteFile(run + "/vellumbright", ""));
        if (setup == "mode 777")
            QVERIFY(QDir().mkpath(run + "/vellumbright"));
        QVERIFY(child.AsUser());
        QCOMPARE(chmod(QFile::encodeName(run).constData(), setup == "read-only" ? 0500 : 0700), 0);
        if (setup == "mode 777")
            QCOMPARE(chmod(QFile::encodeName(run + "/vellumbright").constData(), 0777), 0);

        const QString given = runtime.isEmpty() || runtime == "relative" ? runtime : child.Path(runtime);
        const QString fallback = child.Path("fallback");
        child.Run({"--choose", given, fallback});
        QCOMPARE(child.Check(0), QString());
        const QString chosen = QString::fromLocal8Bit(child.out);
        QCOMPARE(chosen, usesRuntime ? run + "/vellumbright" : fallback);
        struct stat st;
        if (usesRuntime)
            QVERIFY(stat(QFile::encodeName(chosen).constData(), &st) == 0 && (st.st_mode & 0777) == 0700);
    }

    void unusableFolder()
    {
        QVERIFY(vbtest::WriteFile(m_dir.filePath("a-file"), ""));
        InstanceRegistry registry(m_dir.filePath("a-file"));
        QVERIFY(!registry.Register());
        QVERIFY(!registry.PrevInstance());
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--hold") == 0)
        return Hold(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "--choose") == 0)
        return Choose(argv[2], argv[3]);
    QCoreApplication app(argc, argv);
    tst_InstanceRegistry test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_instanceregistry.moc"
