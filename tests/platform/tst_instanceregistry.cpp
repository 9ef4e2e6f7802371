#include "TestSupport.h"
#include "platform/InstanceRegistry.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

using namespace vb;

namespace {

// Child mode: register in the folder given, say so, and hold on until stdin closes.
int Hold(const char* folder)
{
    InstanceRegistry registry(QString::fromLocal8Bit(folder));
    if (!registry.Register())
        return 2;
    std::puts("registered");
    std::fflush(stdout);
    char buffer[16];
    while (read(0, buffer, sizeof buffer) > 0) {
    }
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
        if (kill) {
            ::kill(pid_t(holder.processId()), SIGKILL);
        } else {
            holder.closeWriteChannel();
        }
        QVERIFY(holder.waitForFinished());
        QVERIFY(!registry.PrevInstance());
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
    QCoreApplication app(argc, argv);
    tst_InstanceRegistry test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_instanceregistry.moc"
