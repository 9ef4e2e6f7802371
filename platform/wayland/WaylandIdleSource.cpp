#include "platform/wayland/WaylandIdleSource.h"

#include "ext-idle-notify-v1-client-protocol.h"
#include "kde-idle-client-protocol.h"

#include <QSocketNotifier>
#include <cstring>
#include <wayland-client.h>

namespace vb {

namespace {

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t)
{
    auto* globals = static_cast<WaylandIdleSource::Globals*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !globals->seat)
        globals->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0)
        globals->notifier = static_cast<ext_idle_notifier_v1*>(
            wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
    else if (std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0)
        globals->kdeIdle = static_cast<org_kde_kwin_idle*>(
            wl_registry_bind(registry, name, &org_kde_kwin_idle_interface, 1));
}

void OnGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener RegistryListener = {OnGlobal, OnGlobalRemove};

template <typename Source>
void EmitIdle(void* data, Source*)
{
    emit static_cast<IdleSource*>(data)->idle();
}

template <typename Source>
void EmitActive(void* data, Source*)
{
    emit static_cast<IdleSource*>(data)->active();
}

const ext_idle_notification_v1_listener NotificationListener = {EmitIdle<ext_idle_notification_v1>,
                                                                EmitActive<ext_idle_notification_v1>};
const org_kde_kwin_idle_timeout_listener KdeTimeoutListener = {EmitIdle<org_kde_kwin_idle_timeout>,
                                                               EmitActive<org_kde_kwin_idle_timeout>};

} // namespace

std::unique_ptr<WaylandIdleSource> WaylandIdleSource::Connect(QString* error)
{
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        *error = QStringLiteral("no Wayland compositor answers at WAYLAND_DISPLAY=\"%1\"")
                     .arg(qEnvironmentVariable("WAYLAND_DISPLAY"));
        return nullptr;
    }
    Globals globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &RegistryListener, &globals);
    wl_display_roundtrip(display);
    if ((!globals.notifier && !globals.kdeIdle) || !globals.seat) {
        *error = !globals.seat ? QStringLiteral("the Wayland compositor has no seat")
                               : QStringLiteral("the Wayland compositor offers no idle protocol "
                                                "(neither ext-idle-notify-v1 nor org_kde_kwin_idle)");
        if (globals.seat)
            wl_seat_destroy(globals.seat);
        if (globals.notifier)
            ext_idle_notifier_v1_destroy(globals.notifier);
        if (globals.kdeIdle)
            org_kde_kwin_idle_destroy(globals.kdeIdle);
        wl_registry_destroy(registry);
        wl_display_disconnect(display);
        return nullptr;
    }
    // The newer protocol where there are both.
    if (globals.notifier && globals.kdeIdle) {
        org_kde_kwin_idle_destroy(globals.kdeIdle);
        globals.kdeIdle = nullptr;
    }
    return std::unique_ptr<WaylandIdleSource>(new WaylandIdleSource(display, registry, globals));
}

WaylandIdleSource::WaylandIdleSource(wl_display* display, wl_registry* registry, Globals globals)
    : m_display(display), m_registry(registry), m_globals(globals)
{
    m_notifier = std::make_unique<QSocketNotifier>(wl_display_get_fd(m_display), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &WaylandIdleSource::Dispatch);
}

WaylandIdleSource::~WaylandIdleSource()
{
    m_notifier.reset();
    Release();
    if (m_globals.notifier)
        ext_idle_notifier_v1_destroy(m_globals.notifier);
    if (m_globals.kdeIdle)
        org_kde_kwin_idle_destroy(m_globals.kdeIdle);
    wl_seat_destroy(m_globals.seat);
    wl_registry_destroy(m_registry);
    wl_display_disconnect(m_display);
}

QString WaylandIdleSource::Name() const
{
    return m_globals.notifier ? QStringLiteral("the Wayland compositor's ext-idle-notify-v1")
                              : QStringLiteral("the Wayland compositor's org_kde_kwin_idle");
}

void WaylandIdleSource::Release()
{
    if (m_notification)
        ext_idle_notification_v1_destroy(m_notification);
    if (m_kdeTimeout)
        org_kde_kwin_idle_timeout_release(m_kdeTimeout);
    m_notification = nullptr;
    m_kdeTimeout = nullptr;
}

void WaylandIdleSource::Watch(qint64 ms)
{
    // A notice has its time for good: a new time is a new notice.
    Release();
    m_ms = ms;
    const auto timeout = uint32_t(qBound(qint64(1), ms, qint64(UINT32_MAX)));
    if (m_globals.notifier) {
        m_notification =
            ext_idle_notifier_v1_get_idle_notification(m_globals.notifier, timeout, m_globals.seat);
        ext_idle_notification_v1_add_listener(m_notification, &NotificationListener, this);
    } else {
        m_kdeTimeout = org_kde_kwin_idle_get_idle_timeout(m_globals.kdeIdle, m_globals.seat, timeout);
        org_kde_kwin_idle_timeout_add_listener(m_kdeTimeout, &KdeTimeoutListener, this);
    }
    Flush();
}

void WaylandIdleSource::SimulateUserActivity()
{
    if (m_kdeTimeout) {
        org_kde_kwin_idle_timeout_simulate_user_activity(m_kdeTimeout);
        Flush();
    } else if (m_notification) {
        // A new notice counts from its making.
        Watch(m_ms);
    }
}

void WaylandIdleSource::Flush()
{
    // A connection that is gone shows up as the socket's end, which Dispatch reports.
    wl_display_flush(m_display);
}

void WaylandIdleSource::Dispatch()
{
    // The notifier says there is something to read, so this does not block.
    if (wl_display_dispatch(m_display) < 0) {
        m_notifier->setEnabled(false);
        emit failed(QStringLiteral("the connection to the Wayland compositor is gone"));
        return;
    }
    wl_display_flush(m_display);
}

} // namespace vb
