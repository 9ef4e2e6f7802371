#include "platform/x11/X11IdleSource.h"

#include <QSocketNotifier>
#include <cstdlib>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>

namespace vb {

namespace {

template <typename T>
struct FreeDeleter
{
    void operator()(T* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;

} // namespace

std::unique_ptr<X11IdleSource> X11IdleSource::Connect(QString* error)
{
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        *error = QStringLiteral("no X server answers at DISPLAY=\"%1\"").arg(qEnvironmentVariable("DISPLAY"));
        return nullptr;
    }
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_screensaver_id);
    if (!extension || !extension->present) {
        xcb_disconnect(connection);
        *error = QStringLiteral("the X server has no MIT-SCREEN-SAVER extension");
        return nullptr;
    }
    return std::unique_ptr<X11IdleSource>(new X11IdleSource(connection, screen, extension->first_event));
}

X11IdleSource::X11IdleSource(xcb_connection_t* connection, int screen, uint8_t firstEvent)
    : m_connection(connection), m_firstEvent(firstEvent)
{
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screen && it.rem > 0; ++i)
        xcb_screen_next(&it);
    m_root = it.data->root;
    Reply<xcb_get_screen_saver_reply_t> saver(
        xcb_get_screen_saver_reply(m_connection, xcb_get_screen_saver(m_connection), nullptr));
    if (saver) {
        m_oldTimeout = int16_t(saver->timeout);
        m_oldInterval = int16_t(saver->interval);
        m_oldBlanking = saver->prefer_blanking;
        m_oldExposures = saver->allow_exposures;
    }
    xcb_screensaver_select_input(m_connection, m_root, XCB_SCREENSAVER_EVENT_NOTIFY_MASK);
    // Our saver is a window that shows nothing and takes no input: the server then neither
    // blanks the screen nor draws its pattern, it only tells us.
    xcb_screensaver_set_attributes(m_connection, m_root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, 0,
                                   XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_flush(m_connection);
    m_notifier =
        std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &X11IdleSource::ReadEvents);
}

X11IdleSource::~X11IdleSource()
{
    Restore();
    m_notifier.reset();
    xcb_disconnect(m_connection);
}

QString X11IdleSource::Name() const
{
    return QStringLiteral("the X server's screen saver (MIT-SCREEN-SAVER)");
}

void X11IdleSource::Watch(qint64 ms)
{
    // The server counts in whole seconds, at most 32767.
    const int16_t seconds = int16_t(qBound(qint64(1), (ms + 999) / 1000, qint64(32767)));
    xcb_set_screen_saver(m_connection, seconds, 0, XCB_BLANKING_NOT_PREFERRED, XCB_EXPOSURES_ALLOWED);
    m_changed = true;
    xcb_flush(m_connection);
}

void X11IdleSource::SimulateUserActivity()
{
    xcb_force_screen_saver(m_connection, XCB_SCREEN_SAVER_RESET);
    xcb_flush(m_connection);
}

void X11IdleSource::Restore()
{
    if (!m_changed || xcb_connection_has_error(m_connection))
        return;
    m_changed = false;
    xcb_set_screen_saver(m_connection, m_oldTimeout, m_oldInterval, m_oldBlanking, m_oldExposures);
    xcb_screensaver_unset_attributes(m_connection, m_root);
    // Waits for the server to have taken it: the process ends right after.
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

void X11IdleSource::ReadEvents()
{
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
        if ((event->response_type & 0x7f) == m_firstEvent + XCB_SCREENSAVER_NOTIFY) {
            const auto* notify = reinterpret_cast<const xcb_screensaver_notify_event_t*>(event);
            if (notify->state == XCB_SCREENSAVER_STATE_ON)
                emit idle();
            else if (notify->state == XCB_SCREENSAVER_STATE_OFF)
                emit active();
        }
        std::free(event);
    }
    if (xcb_connection_has_error(m_connection)) {
        m_notifier->setEnabled(false);
        m_changed = false;
        emit failed(QStringLiteral("the connection to the X server is gone"));
    }
}

} // namespace vb
