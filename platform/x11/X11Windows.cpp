#include "platform/x11/X11Windows.h"

#include <QGuiApplication>
#include <QScreen>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>
#include <xcb/xcb.h>

namespace vb::x11 {

namespace {

struct FreeDeleter
{
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

// Waits for a reply and swallows its error, if any: an error left to the event queue would only
// end up as a warning from Qt, and a window that vanished is an expected answer here.
template <typename R, typename Cookie>
Reply<R> Get(R* (*replyFn)(xcb_connection_t*, Cookie, xcb_generic_error_t**), xcb_connection_t* c,
             Cookie cookie)
{
    xcb_generic_error_t* error = nullptr;
    Reply<R> reply(replyFn(c, cookie, &error));
    std::free(error);
    return reply;
}

xcb_connection_t* Connection()
{
    if (!qGuiApp)
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name)
{
    const auto reply = Get(xcb_intern_atom_reply, c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

std::optional<QByteArray> Property(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property, xcb_atom_t type)
{
    const auto reply = Get(xcb_get_property_reply, c, xcb_get_property(c, 0, w, property, type, 0, 4096));
    if (!reply || reply->type == XCB_ATOM_NONE)
        return std::nullopt;
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

std::vector<xcb_window_t> Children(xcb_connection_t* c, xcb_window_t w)
{
    const auto reply = Get(xcb_query_tree_reply, c, xcb_query_tree(c, w));
    if (!reply)
        return {};
    const xcb_window_t* first = xcb_query_tree_children(reply.get());
    return std::vector<xcb_window_t>(first, first + xcb_query_tree_children_length(reply.get()));
}

struct Atoms
{
    xcb_atom_t netWmName, utf8String, wmState;
};

std::optional<QString> Title(xcb_connection_t* c, const Atoms& atoms, xcb_window_t w)
{
    if (auto name = Property(c, w, atoms.netWmName, atoms.utf8String))
        return QString::fromUtf8(*name);
    if (auto name = Property(c, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY))
        return QString::fromLatin1(*name);
    return std::nullopt;
}

// Searches the clients inside a window manager's frame: windows with WM_STATE below w.
xcb_window_t FindClient(xcb_connection_t* c, const Atoms& atoms, xcb_window_t w, const QString& title,
                        int depth)
{
    if (depth > 4)
        return 0;
    for (xcb_window_t child : Children(c, w)) {
        if (Property(c, child, atoms.wmState, XCB_GET_PROPERTY_TYPE_ANY)) {
            if (Title(c, atoms, child) == title)
                return child;
        } else if (xcb_window_t found = FindClient(c, atoms, child, title, depth + 1)) {
            return found;
        }
    }
    return 0;
}

} // namespace

QByteArray MonitorIccProfile(int index)
{
    // A monitor's profile is some kilobytes; one with large lookup tables some hundreds.
    constexpr uint32_t MaxWords = 1 << 20;
    xcb_connection_t* c = Connection();
    if (!c || index < 0)
        return QByteArray();
    const QByteArray name =
        index == 0 ? QByteArray("_ICC_PROFILE") : "_ICC_PROFILE_" + QByteArray::number(index);
    const xcb_atom_t atom = Atom(c, name.constData());
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (atom == XCB_ATOM_NONE || !screen)
        return QByteArray();
    const auto reply =
        Get(xcb_get_property_reply, c,
            xcb_get_property(c, 0, screen->root, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, MaxWords));
    if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 8 || reply->bytes_after > 0)
        return QByteArray();
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

bool Available()
{
    return Connection() != nullptr;
}

WindowId FindTopLevelWindow(const QString& title)
{
    xcb_connection_t* c = Connection();
    if (!c)
        return 0;
    const Atoms atoms{Atom(c, "_NET_WM_NAME"), Atom(c, "UTF8_STRING"), Atom(c, "WM_STATE")};
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it)) {
        for (xcb_window_t top : Children(c, it.data->root)) {
            if (Title(c, atoms, top) == title)
                return top;
            if (!Property(c, top, atoms.wmState, XCB_GET_PROPERTY_TYPE_ANY)) {
                if (xcb_window_t client = FindClient(c, atoms, top, title, 1))
                    return client;
            }
        }
    }
    return 0;
}

std::optional<QSize> ClientSize(WindowId window)
{
    const auto state = QueryWindow(window);
    if (!state)
        return std::nullopt;
    return state->geometry.size();
}

QScreen* ScreenShowing(WindowId window)
{
    xcb_connection_t* c = Connection();
    if (c && window != 0) {
        const auto geometry = Get(xcb_get_geometry_reply, c, xcb_get_geometry(c, window));
        const auto root =
            geometry ? Get(xcb_translate_coordinates_reply, c,
                           xcb_translate_coordinates(c, window, geometry->root, int16_t(geometry->width / 2),
                                                     int16_t(geometry->height / 2)))
                     : nullptr;
        if (root) {
            const QPoint centre(root->dst_x, root->dst_y);
            for (QScreen* screen : QGuiApplication::screens()) {
                const QRect logical = screen->geometry();
                if (QRect(logical.topLeft(), logical.size() * screen->devicePixelRatio()).contains(centre))
                    return screen;
            }
        }
    }
    return QGuiApplication::primaryScreen();
}

bool WatchStructure(WindowId window)
{
    xcb_connection_t* c = Connection();
    if (!c || window == 0)
        return false;
    const auto attributes = Get(xcb_get_window_attributes_reply, c, xcb_get_window_attributes(c, window));
    if (!attributes)
        return false;
    const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    if (mask == attributes->your_event_mask)
        return true;
    xcb_generic_error_t* error =
        xcb_request_check(c, xcb_change_window_attributes_checked(c, window, XCB_CW_EVENT_MASK, &mask));
    const bool watched = error == nullptr;
    std::free(error);
    return watched;
}

std::optional<WindowState> QueryWindow(WindowId window)
{
    xcb_connection_t* c = Connection();
    if (!c || window == 0)
        return std::nullopt;
    const auto geometryCookie = xcb_get_geometry(c, window);
    const auto treeCookie = xcb_query_tree(c, window);
    const auto attributesCookie = xcb_get_window_attributes(c, window);
    const auto geometry = Get(xcb_get_geometry_reply, c, geometryCookie);
    const auto tree = Get(xcb_query_tree_reply, c, treeCookie);
    const auto attributes = Get(xcb_get_window_attributes_reply, c, attributesCookie);
    // A pixmap id also answers get_geometry; only a window answers all three.
    if (!geometry || !tree || !attributes)
        return std::nullopt;
    WindowState state;
    state.parent = tree->parent;
    state.geometry = QRect(geometry->x, geometry->y, geometry->width, geometry->height);
    state.mapped = attributes->map_state != XCB_MAP_STATE_UNMAPPED;
    return state;
}

WindowId InputFocus()
{
    xcb_connection_t* c = Connection();
    if (!c)
        return 0;
    const auto reply = Get(xcb_get_input_focus_reply, c, xcb_get_input_focus(c));
    return reply ? reply->focus : 0;
}

} // namespace vb::x11
