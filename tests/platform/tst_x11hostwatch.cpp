#include "HostWindow.h"
#include "platform/X11Embedding.h"
#include "platform/X11HostWatch.h"
#include "platform/X11Windows.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <memory>

using namespace vb;
using namespace std::chrono_literals;

class tst_X11HostWatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(x11::Available(), "these tests need an X server and the xcb platform"); }

    // `embedded`: our window is inside the host, so its DestroyNotify can tell. `poll`: how
    // often the host is looked up; an hour means only the DestroyNotify can tell in time.
    void noticesHostGone_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("embedded");
        QTest::addColumn<int>("pollMs");
        QTest::newRow("destroyed, by DestroyNotify") << "this process" << true << 3600000;
        QTest::newRow("its process killed, by DestroyNotify") << "other process" << true << 3600000;
        QTest::newRow("its process killed, by lookup") << "other process" << false << 100;
        QTest::newRow("never existed") << "none" << false << 100;
    }
    void noticesHostGone()
    {
        QFETCH(QString, host);
        QFETCH(bool, embedded);
        QFETCH(int, pollMs);
        auto local = std::make_unique<QWidget>();
        vbtest::HostWindowProcess other;
        x11::WindowId hostId = 0x1fffff00;
        if (host == "this process") {
            local->resize(160, 120);
            local->show();
            QVERIFY(QTest::qWaitForWindowExposed(local.get()));
            hostId = x11::WindowId(local->winId());
        } else if (host == "other process") {
            QVERIFY(other.Start("host", QSize(160, 120)));
            hostId = other.id();
            QTRY_VERIFY(x11::QueryWindow(hostId) && x11::QueryWindow(hostId)->mapped);
        }

        QWidget cover;
        std::unique_ptr<x11::ForeignParent> parent;
        if (embedded) {
            parent = x11::ForeignParent::Embed(&cover, hostId);
            QVERIFY(parent);
            x11::PlaceAndShowWithoutActivating(&cover, QRect(0, 0, 160, 120));
            QTRY_VERIFY(x11::QueryWindow(x11::WindowId(cover.winId())) &&
                        x11::QueryWindow(x11::WindowId(cover.winId()))->parent == hostId);
        }
        x11::HostWatch watch(hostId, embedded ? x11::WindowId(cover.winId()) : 0,
                             std::chrono::milliseconds(pollMs));
        QSignalSpy gone(&watch, &x11::HostWatch::hostGone);
        if (host != "none") {
            QVERIFY(!gone.wait(300));
            if (host == "this process")
                local.reset();
            else
                other.Kill();
        }
        QTRY_COMPARE_WITH_TIMEOUT(gone.count(), 1, 3000);
        QVERIFY(watch.IsHostGone());
        QTest::qWait(100);
        QCOMPARE(gone.count(), 1);
    }
};

int main(int argc, char** argv)
{
    const int host = vbtest::RunHostWindowIfAsked(argc, argv);
    if (host >= 0)
        return host;
    QApplication app(argc, argv);
    tst_X11HostWatch test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11hostwatch.moc"
