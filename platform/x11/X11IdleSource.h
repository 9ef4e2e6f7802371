#pragma once

#include "idle/IdleSource.h"

#include <memory>

struct xcb_connection_t;
class QSocketNotifier;

namespace vb {

// The X server's own screen saver as the idle source. The server counts the idle time and
// honours the screen-saver suspend that video players and games hold (XScreenSaverSuspend),
// which the idle time that XScreenSaverQueryInfo reports does not: so the server's screen-saver
// timeout is set to the watcher's time, and an external saver (a window of no size that takes no
// input) is registered, so that the server neither blanks the screen nor draws anything itself
// and tells us, by ScreenSaverNotify, when its saver goes on (idle) and off (input).
//
// The user's own timeout and interval are put back by Restore(), which the watcher calls on its
// way out (SIGTERM, SIGINT, SIGHUP-less ends); a watcher killed outright leaves them changed, and
// the server keeps its saver registered for a dead client only until the connection closes.
class X11IdleSource final : public IdleSource
{
    Q_OBJECT

public:
    // Null, with the reason in `error`, where no X server with the screen-saver extension answers.
    static std::unique_ptr<X11IdleSource> Connect(QString* error);
    ~X11IdleSource() override;

    QString Name() const override;
    void Watch(qint64 ms) override;
    void SimulateUserActivity() override;
    // The server's settings as they were before Watch.
    void Restore();

private:
    X11IdleSource(xcb_connection_t* connection, int screen, uint8_t firstEvent);
    void ReadEvents();

    xcb_connection_t* m_connection;
    uint32_t m_root = 0;
    uint8_t m_firstEvent;
    bool m_changed = false;
    int16_t m_oldTimeout = 0;
    int16_t m_oldInterval = 0;
    uint8_t m_oldBlanking = 0;
    uint8_t m_oldExposures = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace vb
