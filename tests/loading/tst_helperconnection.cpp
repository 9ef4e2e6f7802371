#include "TestSupport.h"
#include "loading/HelperConnection.h"

#include <QtTest>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>

using namespace vb;

// A real helper, with no display: what code taken over in its decoder could do from there.
class tst_HelperConnection : public QObject
{
    Q_OBJECT

private slots:
    // Each probe runs in a helper after it has locked itself down, on this kernel's Landlock and
    // as on a kernel with an older one or none (the filter then holds alone).
    void probes_data()
    {
        QTest::addColumn<QString>("landlock");
        QTest::newRow("this kernel") << "";
        QTest::newRow("Landlock ABI 2") << "2";
        QTest::newRow("no Landlock") << "0";
    }
    void probes()
    {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("The sanitizer runtimes need signals and threads of their own, which the filter lets "
              "through in sanitizer builds: the normal build runs the probes.");
#endif
        QFETCH(QString, landlock);
        if (landlock.isEmpty())
            qunsetenv("VB_TEST_LANDLOCK_ABI");
        else
            qputenv("VB_TEST_LANDLOCK_ABI", landlock.toLatin1());
        // The other process the probes aim at: a child of this test, ended by it.
        pid_t other = 0;
        char* const argv[] = {const_cast<char*>("sleep"), const_cast<char*>("60"), nullptr};
        QCOMPARE(posix_spawnp(&other, "sleep", nullptr, nullptr, argv, environ), 0);
        QVERIFY(other > 0);
        vbtest::StderrCapture capture;
        auto* connection = new HelperConnection({VB_TEST_HOOKS_PROGRAM, 64});
        const quint64 client = connection->Join();
        FrameRequest request;
        request.path = QStringLiteral("/probe-the-helper/%1").arg(other);
        request.canvas.SetSizeWithoutImage(QSize(8, 8), 1, QSize(8, 8), 1);
        bool answered = false;
        connection->RequestFrame(request, client, [&](Frame) { answered = true; });
        QTRY_VERIFY_WITH_TIMEOUT(answered, 10000);
        connection->Leave(client);
        const QString text = capture.Finish();
        kill(other, SIGKILL);
        waitpid(other, nullptr, 0);
        const QStringList lines = text.split(u'\n').filter(QStringLiteral("probe "));
        QVERIFY2(lines.size() >= 15, qPrintable(text));
        const QStringList allowed = lines.filter(QStringLiteral(" allowed"));
        QVERIFY2(allowed.isEmpty(), qPrintable(allowed.join(u'\n')));
    }
};

QTEST_GUILESS_MAIN(tst_HelperConnection)
#include "tst_helperconnection.moc"
