#include "platform/X11HostWatch.h"

#include <QCoreApplication>
#include <xcb/xcb.h>

namespace vb::x11 {

HostWatch::HostWatch(WindowId host, WindowId embedded, std::chrono::milliseconds pollInterval,
                     QObject* parent)
    : QObject(parent), m_host(host), m_embedded(embedded)
{
    QCoreApplication::instance()->installNativeEventFilter(this);
    connect(&m_poll, &QTimer::timeout, this, &HostWatch::Poll);
    m_poll.start(pollInterval);
    // A host that never existed is noticed on the first turn of the event loop.
    QTimer::singleShot(0, this, &HostWatch::Poll);
}

HostWatch::~HostWatch()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

void HostWatch::Poll()
{
    if (!m_gone && !QueryWindow(m_host))
        Report();
}

void HostWatch::Report()
{
    if (m_gone)
        return;
    m_gone = true;
    m_poll.stop();
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
