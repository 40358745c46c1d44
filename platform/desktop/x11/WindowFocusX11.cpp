// The X11 backend of WindowFocus: the window manager's active window and
// the X input focus, read and asked for over Qt's xcb connection.
#include "platform/desktop/WindowFocus.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QHash>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace WindowFocus {
namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeReply>;

struct X11 {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
};

std::optional<X11> x11() {
    auto* app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!app || !app->connection()) return std::nullopt;
    X11 x{app->connection(), 0};
    x.root = xcb_setup_roots_iterator(xcb_get_setup(x.connection)).data->root;
    return x;
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    // Atoms never change while the server runs; one round trip per name.
    static QHash<QByteArray, xcb_atom_t> known;
    const auto it = known.constFind(name);
    if (it != known.cend()) return *it;
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, quint16(std::strlen(name)), name), nullptr));
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    if (value != XCB_ATOM_NONE) known.insert(name, value);
    return value;
}

// The 32-bit values of a property (windows, atoms, cardinals).
QList<quint32> property32(const X11& x, xcb_window_t window, const char* name, xcb_atom_t type) {
    const xcb_atom_t property = atom(x.connection, name);
    if (property == XCB_ATOM_NONE) return {};
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        x.connection, xcb_get_property(x.connection, 0, window, property, type, 0, 1024),
        nullptr));
    if (!reply || reply->format != 32 || reply->type != type) return {};
    const auto* values = static_cast<const quint32*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    return QList<quint32>(values, values + count);
}

bool windowManagerRuns(const X11& x) {
    // The check window names itself; a window manager that quit leaves the
    // root's properties behind but takes its check window with it.
    const QList<quint32> check =
        property32(x, x.root, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW);
    if (check.isEmpty() || check.first() == 0) return false;
    const QList<quint32> self =
        property32(x, check.first(), "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW);
    if (self.isEmpty() || self.first() != check.first()) return false;
    return property32(x, x.root, "_NET_SUPPORTED", XCB_ATOM_ATOM)
        .contains(atom(x.connection, "_NET_ACTIVE_WINDOW"));
}

std::optional<quint32> inputFocus(const X11& x) {
    Reply<xcb_get_input_focus_reply_t> reply(
        xcb_get_input_focus_reply(x.connection, xcb_get_input_focus(x.connection), nullptr));
    // None (0) and PointerRoot (1) name no window.
    if (!reply || reply->focus <= XCB_INPUT_FOCUS_POINTER_ROOT || reply->focus == x.root)
        return std::nullopt;
    return reply->focus;
}

bool x11Exists(quint32 window);

bool x11HasWindowManager() {
    const std::optional<X11> x = x11();
    return x && windowManagerRuns(*x);
}

std::optional<quint32> x11ActiveWindow() {
    const std::optional<X11> x = x11();
    if (!x) return std::nullopt;
    if (windowManagerRuns(*x)) {
        // The window manager's answer stands, also when it is none: with no
        // client active it parks the input focus on a window of its own,
        // which is nobody's to type into.
        const QList<quint32> active =
            property32(*x, x->root, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW);
        // It may also still name a window that has gone.
        if (active.isEmpty() || !x11Exists(active.first())) return std::nullopt;
        return active.first();
    }
    return inputFocus(*x);
}

bool x11Exists(quint32 window) {
    const std::optional<X11> x = x11();
    if (!x || window == 0) return false;
    Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        x->connection, xcb_get_window_attributes(x->connection, window), nullptr));
    if (!attributes) return false; // destroyed
    if (attributes->map_state == XCB_MAP_STATE_VIEWABLE) return true;
    // Minimised: the window manager unmapped it and keeps it iconic (3).
    const xcb_atom_t wmState = atom(x->connection, "WM_STATE");
    const QList<quint32> state = property32(*x, window, "WM_STATE", wmState);
    return !state.isEmpty() && state.first() == 3;
}

std::optional<QRect> x11Geometry(quint32 window) {
    const std::optional<X11> x = x11();
    if (!x || window == 0) return std::nullopt;
    Reply<xcb_get_geometry_reply_t> size(
        xcb_get_geometry_reply(x->connection, xcb_get_geometry(x->connection, window), nullptr));
    if (!size) return std::nullopt;
    // The window's own origin is relative to its parent (the window
    // manager's frame, usually): ask where it lies on the root.
    Reply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(
        x->connection, xcb_translate_coordinates(x->connection, window, x->root, 0, 0), nullptr));
    if (!origin) return std::nullopt;
    return QRect(origin->dst_x, origin->dst_y, size->width, size->height);
}

bool x11Activate(quint32 window) {
    const std::optional<X11> x = x11();
    if (!x || window == 0) return false;
    if (windowManagerRuns(*x)) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = atom(x->connection, "_NET_ACTIVE_WINDOW");
        // Source 2: a request on the user's direct behalf, which window
        // managers honour without their focus-stealing checks; the user just
        // chose to go back there.
        event.data.data32[0] = 2;
        event.data.data32[1] = XCB_CURRENT_TIME;
        event.data.data32[2] = 0;
        xcb_send_event(x->connection, 0, x->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
        xcb_flush(x->connection);
        return true;
    }
    // A window that went meanwhile (BadWindow) or is not viewable (BadMatch)
    // fails here; the errors are collected rather than reported to Qt.
    const quint32 above = XCB_STACK_MODE_ABOVE;
    std::free(xcb_request_check(x->connection,
                                xcb_configure_window_checked(x->connection, window,
                                                             XCB_CONFIG_WINDOW_STACK_MODE, &above)));
    xcb_generic_error_t* error = xcb_request_check(
        x->connection, xcb_set_input_focus_checked(x->connection, XCB_INPUT_FOCUS_PARENT, window,
                                                   XCB_CURRENT_TIME));
    const bool ok = error == nullptr;
    std::free(error);
    return ok;
}

bool x11HasInputFocus(quint32 window) {
    const std::optional<X11> x = x11();
    if (!x || window == 0) return false;
    std::optional<quint32> current = inputFocus(*x);
    while (current && *current != x->root) {
        if (*current == window) return true;
        Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(x->connection, xcb_query_tree(x->connection, *current), nullptr));
        if (!tree || tree->parent == XCB_WINDOW_NONE) return false;
        current = tree->parent;
    }
    return false;
}

class X11Backend : public Backend {
public:
    bool canTellWindows() const override { return true; }
    bool hasWindowManager() const override { return x11HasWindowManager(); }
    std::optional<quint32> activeWindow() const override { return x11ActiveWindow(); }
    bool exists(quint32 window) const override { return x11Exists(window); }
    std::optional<QRect> geometry(quint32 window) const override { return x11Geometry(window); }
    bool activate(quint32 window) override { return x11Activate(window); }
    bool hasInputFocus(quint32 window) const override { return x11HasInputFocus(window); }
};

} // namespace

Backend& x11Backend() { return backendInstance<X11Backend>(); }

} // namespace WindowFocus
