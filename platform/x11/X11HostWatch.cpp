#include "platform/x11/X11HostWatch.h"

#include <QCoreApplication>
#include <QTimer>
#include <xcb/xcb.h>

namespace vb::x11 {

HostWatch::HostWatch(WindowId host, WindowId embedded, QObject* parent)
    : QObject(parent), m_host(host), m_embedded(embedded)
{
    QCoreApplication::instance()->installNativeEventFilter(this);
    QTimer::singleShot(0, this, &HostWatch::Check);
}

HostWatch::~HostWatch()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

void HostWatch::Check()
{
    if (m_gone)
        return;
    // Watched first, then measured: a size change in between is not lost.
    const bool watched = WatchStructure(m_host);
    const auto state = QueryWindow(m_host);
    if (!watched || !state) {
        Report();
        return;
    }
    m_size = state->geometry.size();
    emit hostResized(m_size);
}

void HostWatch::Report()
{
    if (m_gone)
        return;
    m_gone = true;
    emit hostGone();
}

bool HostWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const uint8_t type = event->response_type & 0x7f;
    if (type == XCB_DESTROY_NOTIFY) {
        const auto* destroyed = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
        if (destroyed->window == m_host || destroyed->window == m_embedded)
            Report();
        return false;
    }
    if (type == XCB_CONFIGURE_NOTIFY) {
        const auto* configured = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
        const QSize size(configured->width, configured->height);
        if (configured->window == m_host && !m_gone && size != m_size) {
            m_size = size;
            emit hostResized(size);
        }
        return false;
    }
    if (type == 0) {
        const auto* error = reinterpret_cast<const xcb_generic_error_t*>(event);
        const bool ours = error->resource_id == m_host || error->resource_id == m_embedded;
        if (ours && error->error_code == XCB_WINDOW && !m_gone)
            Report();
        return ours && m_gone;
    }
    return false;
}

} // namespace vb::x11
