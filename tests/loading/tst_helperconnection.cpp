#include "PictureFiles.h"
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
    // as on a kernel with an older one or none (the filter then holds alone). `allowed`: the
    // probes that succeed, every other is refused; with a protection left out (`off`), the probes
    // it alone holds back must succeed, so that each row is seen able to fail.
    void probes_data()
    {
        QTest::addColumn<QString>("landlock");
        QTest::addColumn<QString>("off");
        QTest::addColumn<QStringList>("allowed");
        const QStringList home{"open ~/.ssh", "open ~/.config"};
        QTest::newRow("this kernel") << ""
                                     << "" << QStringList();
        QTest::newRow("Landlock ABI 2") << "2"
                                        << "" << QStringList();
        QTest::newRow("no Landlock") << "0"
                                     << "" << home;
        QTest::newRow("no Landlock, no filter") << "0"
                                                << "filter" << home + QStringList{"kill the program",
                                                                                  "kill another process",
                                                                                  "kill -1",
                                                                                  "pidfd_open",
                                                                                  "process_vm_readv",
                                                                                  "ptrace",
                                                                                  "unshare a user namespace",
                                                                                  "userfaultfd",
                                                                                  "socket",
                                                                                  "execve"};
        QTest::newRow("no limits") << ""
                                   << "limits" << QStringList{"memfd grown to 1 GiB"};
        QTest::newRow("the program's session and streams")
            << ""
            << "streams" << QStringList{"ftruncate standard error", "standard output other than /dev/null"};
    }
    void probes()
    {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("The sanitizer runtimes need signals and threads of their own, which the filter lets "
              "through in sanitizer builds: the normal build runs the probes.");
#endif
        QFETCH(QString, landlock);
        QFETCH(QString, off);
        QFETCH(QStringList, allowed);
        qputenv("VB_TEST_LANDLOCK_ABI", landlock.isEmpty() ? "-1" : landlock.toLatin1());
        qputenv("VB_TEST_PROTECTION_OFF", off.toLatin1());
        // The user's keys and settings, and a chosen folder with a picture.
        QTemporaryDir home;
        QVERIFY(QDir(home.path()).mkpath(".ssh") && QDir(home.path()).mkpath(".config"));
        const QString chosen = home.path() + "/Pictures";
        QVERIFY(vbtest::SavePicture(chosen + "/shown.png", vbtest::Quadrants(QSize(8, 8)), "png"));
        const QByteArray realHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        // The other process the probes aim at: a child of this test, ended by it.
        pid_t other = 0;
        char* const argv[] = {const_cast<char*>("sleep"), const_cast<char*>("60"), nullptr};
        QCOMPARE(posix_spawnp(&other, "sleep", nullptr, nullptr, argv, environ), 0);
        QVERIFY(other > 0);
        vbtest::StderrCapture capture;
        auto* connection =
            new HelperConnection({VB_TEST_HOOKS_PROGRAM, 64, {chosen}, off == QLatin1String("streams")});
        const quint64 client = connection->Join();
        FrameRequest request;
        request.path = QStringLiteral("/probe-the-helper/%1").arg(other);
        request.canvas.SetSizeWithoutImage(QSize(8, 8), 1, QSize(8, 8), 1);
        bool answered = false;
        connection->RequestFrame(request, client, [&](Frame) { answered = true; });
        QTRY_VERIFY_WITH_TIMEOUT(answered, 10000);
        // A picture in a chosen folder is still read and decoded there.
        request.path = chosen + "/shown.png";
        request.decodeLimitMegabytes = 64;
        Frame shown;
        connection->RequestFrame(request, client, [&](Frame frame) { shown = std::move(frame); });
        QTRY_VERIFY_WITH_TIMEOUT(!shown.image.isNull(), 10000);
        connection->Leave(client);
        const QString text = capture.Finish();
        qputenv("HOME", realHome);
        kill(other, SIGKILL);
        waitpid(other, nullptr, 0);
        QVERIFY2(text.count(QStringLiteral("probe ")) >= 17, qPrintable(text));
        const QRegularExpression line(QStringLiteral("probe (.*) (allowed|refused)"));
        QStringList seen;
        for (const QRegularExpressionMatch& match : line.globalMatch(text))
            if (match.captured(2) == QLatin1String("allowed") && !seen.contains(match.captured(1)))
                seen.append(match.captured(1));
        for (const QString& probe : allowed)
            QVERIFY2(seen.contains(probe), qPrintable(probe + " refused:\n" + text));
        if (off.isEmpty())
            QCOMPARE(seen, allowed);
    }
};

QTEST_GUILESS_MAIN(tst_HelperConnection)
#include "tst_helperconnection.moc"
