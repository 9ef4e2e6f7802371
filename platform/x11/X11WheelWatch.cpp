#include "platform/x11/X11WheelWatch.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace vb::x11 {

namespace {

constexpr uint16_t InputButtonPress = 4; // XI_ButtonPress of the input extension, version 2

bool IsWheelButton(uint32_t button)
{
    return button >= 4 && button <= 7;
}

} // namespace

WheelWatch::WheelWatch(QObject* parent) : QObject(parent)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return;
    static const char name[] = "XInputExtension";
    xcb_query_extension_reply_t* reply =
        xcb_query_extension_reply(c, xcb_query_extension(c, uint16_t(std::strlen(name)), name), nullptr);
    if (reply && reply->present)
        m_inputOpcode = reply->major_opcode;
    std::free(reply);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

WheelWatch::~WheelWatch()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool WheelWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const uint8_t type = event->response_type & 0x7f;
    bool wheel = false;
    if (type == XCB_BUTTON_PRESS) {
        wheel = IsWheelButton(reinterpret_cast<const xcb_button_press_event_t*>(event)->detail);
    } else if (type == XCB_GE_GENERIC && m_inputOpcode >= 0) {
        const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
        // A device event of the input extension: its button is the 32-bit `detail` at byte 12.
        if (generic->extension == m_inputOpcode && generic->event_type == InputButtonPress) {
            uint32_t button = 0;
            std::memcpy(&button, reinterpret_cast<const char*>(event) + 12, sizeof button);
            wheel = IsWheelButton(button);
        }
    }
    if (wheel)
        emit turned();
    return false;
}

} // namespace vb::x11
