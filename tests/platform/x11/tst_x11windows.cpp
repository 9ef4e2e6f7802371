#include "HostWindow.h"
#include "platform/x11/X11Embedding.h"
#include "platform/x11/X11Windows.h"

#include <QApplication>
#include <QProcess>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <optional>

using namespace vb;

namespace {

bool SetWmState(WId window)
{
    return QProcess::execute("xprop", {"-id", QString::number(window), "-f", "WM_STATE", "32c", "-set",
                                       "WM_STATE", "1, 0"}) == 0;
}

bool Mapped(WId window)
{
    const auto state = x11::QueryWindow(x11::WindowId(window));
    return state && state->mapped;
}

} // namespace

class tst_X11Windows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(x11::Available(), "these tests need an X server and the xcb platform"); }

    void findTopLevelWindow_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("searched");
        QTest::addColumn<bool>("found");
        QTest::newRow("exact") << "Lanternshade/S"
                               << "Lanternshade/S" << true;
        QTest::newRow("other case") << "lanternshade/s"
                                    << "Lanternshade/S" << false;
        QTest::newRow("trailing space") << "Lanternshade/S "
                                        << "Lanternshade/S" << false;
        QTest::newRow("prefix only") << "Lanternshade"
                                     << "Lanternshade/S" << false;
        QTest::newRow("non-ascii") << QString::fromUtf8("Vorschau \xe2\x80\x93 \xc3\xbc")
                                   << QString::fromUtf8("Vorschau \xe2\x80\x93 \xc3\xbc") << true;
    }
    void findTopLevelWindow()
    {
        QFETCH(QString, title);
        QFETCH(QString, searched);
        QFETCH(bool, found);
        QWidget window;
        window.setWindowTitle(title);
        window.resize(100, 100);
        window.show();
        QTRY_VERIFY(Mapped(window.winId()));
        QCOMPARE(x11::FindTopLevelWindow(searched), found ? x11::WindowId(window.winId()) : 0u);
    }

    void findWindowOfAnotherProcess()
    {
        QCOMPARE(x11::FindTopLevelWindow("Lanternshade/S"), 0u);
        vbtest::HostWindowProcess other;
        QVERIFY(other.Start("Lanternshade/S", QSize(320, 240)));
        QTRY_COMPARE(x11::FindTopLevelWindow("Lanternshade/S"), other.id());
    }

    // A window manager puts each client window into a frame; the client, marked by WM_STATE,
    // counts as top-level, while an ordinary child window of some program does not.
    void findClientInsideFrame_data()
    {
        QTest::addColumn<bool>("wmState");
        QTest::newRow("client window") << true;
        QTest::newRow("plain child window") << false;
    }
    void findClientInsideFrame()
    {
        QFETCH(bool, wmState);
        QWindow frame;
        frame.setTitle("frame");
        frame.resize(200, 200);
        QWindow client(&frame);
        client.setTitle("Lanternshade/S");
        client.resize(100, 100);
        frame.show();
        client.show();
        QTRY_VERIFY(Mapped(client.winId()));
        if (wmState)
            QVERIFY(SetWmState(client.winId()));
        QCOMPARE(x11::FindTopLevelWindow("Lanternshade/S"), wmState ? x11::WindowId(client.winId()) : 0u);
    }

    void clientSize()
    {
        QWidget window;
        window.resize(321, 123);
        window.show();
        QTRY_VERIFY(Mapped(window.winId()));
        QCOMPARE(x11::ClientSize(x11::WindowId(window.winId())), std::optional<QSize>(QSize(321, 123)));

        vbtest::HostWindowProcess other;
        QVERIFY(other.Start("host", QSize(320, 240)));
        QTRY_COMPARE(x11::ClientSize(other.id()), std::optional<QSize>(QSize(320, 240)));

        QCOMPARE(x11::ClientSize(0), std::nullopt);
        QCOMPARE(x11::ClientSize(0x1fffff00), std::nullopt);
        other.Kill();
        QTRY_COMPARE(x11::ClientSize(other.id()), std::nullopt);
    }

    // The sequence of a preview: reparent into the host, place at (0, 0) with the host's size,
    // map without taking the focus.
    void embedIntoHost_data()
    {
        QTest::addColumn<bool>("otherProcess");
        QTest::newRow("host in this process") << false;
        QTest::newRow("host in another process") << true;
    }
    void embedIntoHost()
    {
        QFETCH(bool, otherProcess);
        QWidget localHost;
        vbtest::HostWindowProcess other;
        x11::WindowId host = 0;
        if (otherProcess) {
            QVERIFY(other.Start("host", QSize(320, 240)));
            host = other.id();
        } else {
            localHost.resize(320, 240);
            localHost.show();
            host = x11::WindowId(localHost.winId());
        }
        QTRY_VERIFY(Mapped(host));
        const x11::WindowId focusBefore = x11::InputFocus();

        QWidget cover;
        cover.setWindowTitle("Preview");
        auto parent = x11::ForeignParent::Embed(&cover, host);
        QVERIFY(parent);
        QCOMPARE(parent->host(), host);
        const auto size = x11::ClientSize(host);
        QVERIFY(size);
        x11::PlaceAndShowWithoutActivating(&cover, *size);

        const auto id = x11::WindowId(cover.winId());
        QTRY_VERIFY(Mapped(id));
        const auto state = x11::QueryWindow(id);
        QCOMPARE(state->parent, host);
        QCOMPARE(state->geometry, QRect(0, 0, 320, 240));
        QCOMPARE(x11::InputFocus(), focusBefore);
        QVERIFY(x11::InputFocus() != id);
        // Not a top-level window, so the single-instance search does not see it.
        QCOMPARE(x11::FindTopLevelWindow("Preview"), 0u);

        parent.reset();
        QTRY_VERIFY(x11::QueryWindow(id) && x11::QueryWindow(id)->parent != host);
    }

    void embedIntoMissingWindowDoesNotCrash()
    {
        QWidget cover;
        auto parent = x11::ForeignParent::Embed(&cover, 0x1fffff00);
        if (parent)
            x11::PlaceAndShowWithoutActivating(&cover, QSize(0, 0));
        QTest::qWait(100);
        QCOMPARE(x11::ClientSize(0x1fffff00), std::nullopt);
    }
};

int main(int argc, char** argv)
{
    const int host = vbtest::RunHostWindowIfAsked(argc, argv);
    if (host >= 0)
        return host;
    QApplication app(argc, argv);
    tst_X11Windows test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11windows.moc"
