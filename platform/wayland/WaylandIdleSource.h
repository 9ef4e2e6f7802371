#pragma once

#include "idle/IdleSource.h"

#include <memory>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct ext_idle_notifier_v1;
struct ext_idle_notification_v1;
struct org_kde_kwin_idle;
struct org_kde_kwin_idle_timeout;
class QSocketNotifier;

namespace vb {

// A Wayland compositor's idle notice for the first seat: ext-idle-notify-v1 where the compositor
// offers it, else KDE's older org_kde_kwin_idle (sway 1.7, KWin 5.27). The compositor applies the
// idle-inhibit requests of video players to both, so a film holds the notice off by itself.
class WaylandIdleSource final : public IdleSource
{
    Q_OBJECT

public:
    // Null where no compositor answers at WAYLAND_DISPLAY or it offers neither protocol (or no
    // seat); `error` then says which.
    static std::unique_ptr<WaylandIdleSource> Connect(QString* error);
    ~WaylandIdleSource() override;

    QString Name() const override;
    void Watch(qint64 ms) override;
    void SimulateUserActivity() override;

    // For the registry's listener.
    struct Globals
    {
        wl_seat* seat = nullptr;
        ext_idle_notifier_v1* notifier = nullptr;
        org_kde_kwin_idle* kdeIdle = nullptr;
    };

private:
    WaylandIdleSource(wl_display* display, wl_registry* registry, Globals globals);
    void Release();
    void Dispatch();
    void Flush();

    wl_display* m_display;
    wl_registry* m_registry;
    Globals m_globals;
    ext_idle_notification_v1* m_notification = nullptr;
    org_kde_kwin_idle_timeout* m_kdeTimeout = nullptr;
    qint64 m_ms = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace vb
