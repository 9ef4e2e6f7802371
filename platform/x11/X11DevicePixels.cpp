#include "platform/x11/X11DevicePixels.h"

#include <QGuiApplication>
#include <QScreen>
#include <cstdlib>
#include <memory>
#include <xcb/randr.h>

namespace vb::x11 {

namespace {

xcb_connection_t* Connection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

struct FreeDeleter
{
    void operator()(void* p) const { std::free(p); }
};

QString AtomName(xcb_connection_t* c, xcb_atom_t atom)
{
    std::unique_ptr<xcb_get_atom_name_reply_t, FreeDeleter> reply(
        xcb_get_atom_name_reply(c, xcb_get_atom_name(c, atom), nullptr));
    return reply ? QString::fromLatin1(xcb_get_atom_name_name(reply.get()),
                                       xcb_get_atom_name_name_length(reply.get()))
                 : QString();
}

} // namespace

std::optional<QRect> MonitorGeometry(const QScreen& screen)
{
    xcb_connection_t* c = Connection();
    // A request of an extension the server lacks would break the connection.
    const xcb_query_extension_reply_t* randr = c ? xcb_get_extension_data(c, &xcb_randr_id) : nullptr;
    if (!randr || !randr->present)
        return std::nullopt;
    // Qt names a screen after its monitor. It keeps the origin in device pixels and rounds only the
    // size, so a monitor under another name (RandR's stand-in for the whole screen) matches by both.
    const QRect logical = screen.geometry();
    const qreal ratio = screen.devicePixelRatio();
    std::optional<QRect> sameOrigin;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it)) {
        // Before RandR 1.5 the request fails; its error is ours, not one for Qt to warn of.
        xcb_generic_error_t* error = nullptr;
        std::unique_ptr<xcb_randr_get_monitors_reply_t, FreeDeleter> reply(
            xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, it.data->root, 1), &error));
        std::free(error);
        if (!reply)
            continue;
        for (auto m = xcb_randr_get_monitors_monitors_iterator(reply.get()); m.rem;
             xcb_randr_monitor_info_next(&m)) {
            const QRect device(m.data->x, m.data->y, m.data->width, m.data->height);
            if (AtomName(c, m.data->name) == screen.name())
                return device;
            if (!sameOrigin && device.topLeft() == logical.topLeft() &&
                (QSizeF(device.size()) / ratio).toSize() == logical.size())
                sameOrigin = device;
        }
    }
    return sameOrigin;
}

void PlaceOnDevicePixels(WindowId window, const QRect& geometry)
{
    xcb_connection_t* c = Connection();
    if (!c || window == 0 || geometry.isEmpty())
        return;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const uint32_t background = screen->black_pixel;
    xcb_change_window_attributes(c, window, XCB_CW_BACK_PIXEL, &background);
    const uint32_t values[] = {uint32_t(geometry.x()), uint32_t(geometry.y()), uint32_t(geometry.width()),
                               uint32_t(geometry.height())};
    xcb_configure_window(c, window,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         values);
    xcb_flush(c);
}

} // namespace vb::x11
