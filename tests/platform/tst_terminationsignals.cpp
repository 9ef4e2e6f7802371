#include "platform/TerminationSignals.h"

#include <QSignalSpy>
#include <QTest>
#include <csignal>

using vb::TerminationSignals;

namespace {
volatile std::sig_atomic_t g_previousHandlerRan = 0;
extern "C" void PreviousHandler(int)
{
    g_previousHandlerRan = 1;
}
} // namespace

class tst_TerminationSignals : public QObject
{
    Q_OBJECT

private slots:
    // Without the handler either signal would end this test process.
    void routesToEventLoop_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }
    void routesToEventLoop()
    {
        QFETCH(int, signalNumber);
        TerminationSignals watcher;
        QVERIFY(watcher.IsActive());
        QSignalSpy received(&watcher, &TerminationSignals::received);
        QCOMPARE(std::raise(signalNumber), 0);
        QCOMPARE(received.count(), 0); // only on the event loop
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received.at(0).at(0).toInt(), signalNumber);
    }

    void signalsInARowEachArrive()
    {
        TerminationSignals watcher;
        QSignalSpy received(&watcher, &TerminationSignals::received);
        std::raise(SIGINT);
        std::raise(SIGTERM);
        QTRY_COMPARE(received.count(), 2);
        QCOMPARE(received.at(0).at(0).toInt(), SIGINT);
        QCOMPARE(received.at(1).at(0).toInt(), SIGTERM);
    }

    void previousHandlersComeBack()
    {
        std::signal(SIGTERM, PreviousHandler);
        {
            TerminationSignals watcher;
            QVERIFY(watcher.IsActive());
        }
        g_previousHandlerRan = 0;
        std::raise(SIGTERM);
        QCOMPARE(int(g_previousHandlerRan), 1);
        std::signal(SIGTERM, SIG_DFL);
    }

    void oneInstanceAtATime()
    {
        TerminationSignals first;
        TerminationSignals second;
        QVERIFY(first.IsActive());
        QVERIFY(!second.IsActive());
        QSignalSpy received(&first, &TerminationSignals::received);
        std::raise(SIGTERM);
        QTRY_COMPARE(received.count(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_TerminationSignals)
#include "tst_terminationsignals.moc"
