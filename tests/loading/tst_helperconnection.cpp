#include "PictureFiles.h"
#include "TestSupport.h"
#include "loading/HelperConnection.h"
#include "platform/runtime/RuntimeError.h"

#include <QtTest>
#include <csignal>
#include <future>
#include <spawn.h>
#include <sys/wait.h>

using namespace vb;

namespace {

// This process's peak resident memory in KiB; `reset` starts a new peak from what it holds now.
qint64 PeakKb(bool reset = false)
{
    if (reset)
        vbtest::WriteFile(QStringLiteral("/proc/self/clear_refs"), "5");
    for (const QByteArray& line : vbtest::ReadFile(QStringLiteral("/proc/self/status")).split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

} // namespace

// A real helper, with no display: what code taken over in its decoder could do from there.
class tst_HelperConnection : public QObject
{
    Q_OBJECT

private slots:
    // A helper that crashes, hangs or breaks the protocol on a picture, or on a folder it lists,
    // is ended and replaced: what it held ends in a failure of its own (the cross, an unreadable
    // folder), never in a wait without end, and the next frame and listing go to the new helper.
    void helperGoneWrong_data()
    {
        QTest::addColumn<QString>("picture"); // asked for first; none when empty
        QTest::addColumn<QString>("folder");  // listed while the picture is under way
        QTest::addColumn<int>("helpers");     // started by the end
        const QString none;
        QTest::newRow("crashes") << "crash-the-helper.jpg" << none << 3;
        QTest::newRow("hangs") << "hang-the-helper.jpg" << none << 2;
        QTest::newRow("sends garbage") << "garble-the-helper.jpg" << none << 3;
        QTest::newRow("answers no request") << "stray-answer.jpg" << none << 3;
        QTest::newRow("frame of another size") << "wrong-size.jpg" << none << 2;
        QTest::newRow("listing and frame in flight")
            << "hang-the-helper.jpg" << QString("crash-the-helper") << 3;
        QTest::newRow("answers a listing with a frame") << none << "answer-as-frame" << 3;
        QTest::newRow("listing parts without end") << none << "flood-the-helper" << 2;
    }
    void helperGoneWrong()
    {
        QFETCH(QString, picture);
        QFETCH(QString, folder);
        QFETCH(int, helpers);
        QTemporaryDir dir;
        QVERIFY(vbtest::SavePicture(dir.filePath("shown.png"), vbtest::Quadrants(QSize(16, 16)), "PNG"));
        const std::chrono::milliseconds hungAfter(2000 * VB_TIME_SCALE);
        auto* connection = new HelperConnection({VB_TEST_HOOKS_PROGRAM, 64, {dir.path()}, false, hungAfter});
        const quint64 client = connection->Join();
        std::optional<Frame> answer;
        FrameRequest request{0, {}, {}, false, {}, 64, false, false};
        request.canvas.SetSizeWithoutImage(QSize(8, 8), 1, QSize(8, 8), 1);
        const auto ask = [&](const QString& name) {
            answer.reset();
            request.path = dir.filePath(name);
            connection->RequestFrame(request, client, [&](Frame frame) { answer = std::move(frame); });
        };
        // The names found, -1 when the listing failed, -2 when it did not end (left on its thread;
        // it needs no event loop, so it is waited for here).
        const auto listed = [&](const QString& name) {
            std::packaged_task<int()> task([connection, path = dir.filePath(name)] {
                int found = 0;
                try {
                    connection->List(path, false, {}, [&](std::string_view) { ++found; }, {});
                } catch (const RuntimeError&) {
                    return -1;
                }
                return found;
            });
            std::future<int> listing = task.get_future();
            std::thread(std::move(task)).detach();
            return listing.wait_for(10 * hungAfter) == std::future_status::ready ? listing.get() : -2;
        };

        const qint64 before = PeakKb(true);
        if (!picture.isEmpty())
            ask(picture);
        if (!folder.isEmpty())
            QCOMPARE(listed(folder), -1);
        QTRY_VERIFY_WITH_TIMEOUT(picture.isEmpty() || answer, 10 * hungAfter.count());
        QVERIFY(picture.isEmpty() || answer->image.isNull());
        QTRY_COMPARE_WITH_TIMEOUT(connection->HelpersStarted(), helpers, 10 * hungAfter.count());
#if !defined(__SANITIZE_ADDRESS__) // which keeps what is freed in its quarantine, 256 MB
        QVERIFY2(PeakKb() - before < 64 * 1024, qPrintable(QString::number(PeakKb() - before)));
#endif

        ask(QStringLiteral("shown.png"));
        QTRY_VERIFY_WITH_TIMEOUT(answer, 10 * hungAfter.count());
        QCOMPARE(answer->image.size(), QSize(8, 8));
        QCOMPARE(listed(QString()), 1);
        QCOMPARE(connection->HelpersStarted(), helpers);
        connection->Leave(client);
    }

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
        const QStringList filtered =
            QStringLiteral("kill the program,kill another process,kill -1,pidfd_open,"
                           "process_vm_readv,ptrace,unshare a user namespace,"
                           "userfaultfd,socket,execve")
                .split(u',');
        const auto row = [](const char* name, const char* landlock, const char* off,
                            const QStringList& allowed) {
            QTest::newRow(name) << QString(landlock) << QString(off) << allowed;
        };
        row("this kernel", "", "", {});
        row("Landlock ABI 2", "2", "", {});
        row("no Landlock", "0", "", home);
        row("no Landlock, no filter", "0", "filter", home + filtered);
        row("no limits", "", "limits", {"memfd grown to 1 GiB"});
        row("the program's session and streams", "", "streams",
            {"ftruncate standard error", "standard output other than /dev/null"});
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
