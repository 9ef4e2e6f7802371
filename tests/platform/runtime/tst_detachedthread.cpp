#include "platform/runtime/DetachedThread.h"
#include "platform/runtime/WallClockAlarm.h"

#include <QSemaphore>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <memory>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vb;

namespace {
int OwnNice()
{
    return getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)));
}
} // namespace

class tst_DetachedThread : public QObject
{
    Q_OBJECT

private slots:
    // Ten steps below the thread that starts it, never past the lowest: a saver started with
    // `nice` keeps its workers below its windows. Batch work keeps its starter's nice.
    void runsBelowItsStarter_data()
    {
        QTest::addColumn<int>("above"); // the starter's nice above the test's own
        QTest::addColumn<bool>("batch");
        QTest::newRow("as started") << 0 << false;
        QTest::newRow("started with nice 5") << 5 << false;
        QTest::newRow("started with nice 12: the lowest") << 12 << false;
        QTest::newRow("started at the lowest") << 19 << false;
        QTest::newRow("batch, started with nice 5") << 5 << true;
    }
    void runsBelowItsStarter()
    {
        QFETCH(int, above);
        QFETCH(bool, batch);
        const int starter = std::min(OwnNice() + above, 19);
        std::atomic<int> worker{-100}, policy{-1};
        QSemaphore done;
        // A thread of its own starts it, so that the test's nice stays as it is.
        std::thread([&] {
            setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), starter);
            StartDetachedThread(
                [&] {
                    worker = OwnNice();
                    policy = sched_getscheduler(0);
                    done.release();
                },
                batch ? DetachedPriority::Batch : DetachedPriority::Background);
        }).join();
        QVERIFY(done.tryAcquire(1, 60000));
        QCOMPARE(worker.load(), batch ? starter : std::min(starter + 10, 19));
        QCOMPARE(policy.load(), SCHED_BATCH);
        QTRY_COMPARE(DetachedThreadsRunning(), 0);
    }

    // The count drops only after what the work captured is gone: the end of the process reads it.
    void countsUntilItsWorkIsGone()
    {
        QSemaphore destroying, letGo;
        std::shared_ptr<void> held(nullptr, [&](void*) { destroying.release(), letGo.acquire(); });
        StartDetachedThread([held = std::move(held)] {});
        QVERIFY(destroying.tryAcquire(1, 60000));
        QCOMPARE(DetachedThreadsRunning(), 1);
        letGo.release();
        QTRY_COMPARE(DetachedThreadsRunning(), 0);
    }

    // The alarm waits on the system clock: it rings once its time has come, not before, and a
    // cancelled one stays silent even when its time had already passed.
    void wallClockAlarmRingsAtItsTime()
    {
        std::vector<DateTime> rang;
        WallClockAlarm alarm([&rang] { rang.push_back(std::chrono::system_clock::now()); });
        alarm.Set(std::chrono::system_clock::now() - std::chrono::seconds(1));
        alarm.Cancel();
        const DateTime when = std::chrono::system_clock::now() + std::chrono::milliseconds(500);
        alarm.Set(when);
        QTRY_COMPARE_WITH_TIMEOUT(rang.size(), size_t(1), 10000);
        QVERIFY(rang[0] >= when);
        QTest::qWait(100);
        QCOMPARE(rang.size(), size_t(1));
    }
};

QTEST_GUILESS_MAIN(tst_DetachedThread)
#include "tst_detachedthread.moc"
