#include "idle/IdleWatcher.h"

#include <QSignalSpy>
#include <QTest>

using namespace vb;

namespace {

class FakeSource final : public IdleSource
{
public:
    QString Name() const override { return QStringLiteral("fake"); }
    void Watch(qint64 ms) override { watched = ms; }
    qint64 watched = 0;
};

class FakeCheck final : public InhibitCheck
{
public:
    QString Inhibited() override { return reason; }
    QString reason;
};

class FakeLauncher final : public SaverLauncher
{
public:
    bool Start(QString*) override { return ++starts, true; }
    int starts = 0;
};

constexpr qint64 IdleMs = 60;

} // namespace

class tst_IdleWatcher : public QObject
{
    Q_OBJECT

private slots:
    // Each step is one letter: i idle, a active, e the saver ends, h a check holds, r it releases,
    // w waits out twice the idle time. Then the saver's start count and the watcher's state.
    void events_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("starts");
        QTest::addColumn<int>("state");
        const int waiting = int(IdleWatcher::State::Waiting), held = int(IdleWatcher::State::Held),
                  showing = int(IdleWatcher::State::Showing);
        QTest::newRow("idle starts the saver") << "i" << 1 << showing;
        QTest::newRow("input while it shows changes nothing") << "ia" << 1 << showing;
        QTest::newRow("ended by input, the next idle starts it") << "iaei" << 2 << showing;
        QTest::newRow("ended without input: waits for input and idle") << "iewa" << 1 << waiting;
        QTest::newRow("a hold keeps it off") << "hiw" << 0 << held;
        QTest::newRow("input while held: waiting again") << "hia" << 0 << waiting;
        QTest::newRow("released: starts an idle time later") << "hirw" << 1 << showing;
        QTest::newRow("released, not yet an idle time") << "hir" << 0 << held;
        QTest::newRow("released, then input") << "hirwa" << 1 << showing;
        QTest::newRow("released and input before the time") << "hiraw" << 0 << waiting;
    }
    void events()
    {
        QFETCH(QString, steps);
        FakeSource source;
        FakeCheck check;
        FakeLauncher launcher;
        IdleWatcher watcher(source, {&check}, launcher);
        watcher.SetIdleTime(IdleMs);
        QCOMPARE(source.watched, IdleMs);
        for (const QChar step : steps) {
            switch (step.toLatin1()) {
            case 'i':
                emit source.idle();
                break;
            case 'a':
                emit source.active();
                break;
            case 'e':
                emit launcher.ended();
                break;
            case 'h':
                check.reason = QStringLiteral("held");
                break;
            case 'r':
                check.reason.clear();
                emit check.released();
                break;
            case 'w':
                QTest::qWait(int(2 * IdleMs));
                break;
            }
        }
        QTEST(launcher.starts, "starts");
        QTEST(int(watcher.state()), "state");
    }
};

QTEST_GUILESS_MAIN(tst_IdleWatcher)
#include "tst_idlewatcher.moc"
