#include "platform/desktop/x11/WindowFrameX11.h"

#include <QGuiApplication>
#include <QWidget>

// The X headers come last: they define macros that collide with Qt's names.
#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>

namespace {

// The margins of the frame the window manager drew around `window`, as it
// tells them on the window (_NET_FRAME_EXTENTS) on X11, read afresh: Qt
// reads them once and keeps what it read, which, read while the window
// manager was still framing the window, stays none, or negative, for good.
// None while the window has no frame, and off X11.
std::optional<QMargins> frame(const QWidget* window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection() || !window->testAttribute(Qt::WA_WState_Created))
        return std::nullopt;
    xcb_connection_t* connection = x11->connection();
    static xcb_atom_t extents = XCB_ATOM_NONE;
    if (extents == XCB_ATOM_NONE) {
        static const char name[] = "_NET_FRAME_EXTENTS";
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
        if (atom) extents = atom->atom;
        std::free(atom);
        if (extents == XCB_ATOM_NONE) return std::nullopt;
    }
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection,
        xcb_get_property(connection, 0, xcb_window_t(window->winId()), extents,
                         XCB_ATOM_CARDINAL, 0, 4),
        nullptr);
    std::optional<QMargins> margins;
    if (reply && reply->type == XCB_ATOM_CARDINAL && reply->format == 32 &&
        xcb_get_property_value_length(reply) == 16) {
        // Left, right, top, bottom, in the server's pixels; a part of a
        // program's pixel (under fractional scaling) counts as a whole one,
        // or a frame fitted to the screen would overrun it by a pixel.
        const auto* value = static_cast<const quint32*>(xcb_get_property_value(reply));
        const qreal ratio = window->devicePixelRatioF();
        const auto logical = [ratio](quint32 pixels) { return int(std::ceil(pixels / ratio)); };
        margins = QMargins(logical(value[0]), logical(value[2]), logical(value[1]),
                           logical(value[3]));
    }
    std::free(reply);
    return margins;
}

// Where the X server has `window`'s own area (without the frame): Qt keeps
// the place it last asked for, also where the window manager did not carry
// the request out and said nothing of it.
std::optional<QRect> place(const QWidget* window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection() || !window->testAttribute(Qt::WA_WState_Created))
        return std::nullopt;
    xcb_connection_t* connection = x11->connection();
    const auto id = xcb_window_t(window->winId());
    xcb_get_geometry_reply_t* size =
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id), nullptr);
    std::optional<QRect> place;
    if (size) {
        xcb_translate_coordinates_reply_t* at = xcb_translate_coordinates_reply(
            connection, xcb_translate_coordinates(connection, id, size->root, 0, 0), nullptr);
        if (at) {
            const qreal ratio = window->devicePixelRatioF();
            const auto logical = [ratio](int pixels) { return int(std::lround(pixels / ratio)); };
            place = QRect(logical(at->dst_x), logical(at->dst_y), logical(size->width),
                          logical(size->height));
        }
        std::free(at);
    }
    std::free(size);
    return place;
}

// Whether the window manager takes a position asked for `window` as that of
// its own area (static gravity) rather than of its frame (north-west, the
// default): Qt gives windows either, from how they were first placed.
bool positionsItsOwnArea(xcb_connection_t* connection, xcb_window_t id) {
    // WM_NORMAL_HINTS: flags first, the gravity 18th, there with PWinGravity.
    constexpr quint32 winGravityFlag = 1u << 9;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection,
        xcb_get_property(connection, 0, id, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 0,
                         18),
        nullptr);
    bool own = false;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 18 * 4) {
        const auto* hints = static_cast<const quint32*>(xcb_get_property_value(reply));
        own = (hints[0] & winGravityFlag) && hints[17] == XCB_GRAVITY_STATIC;
    }
    std::free(reply);
    return own;
}

// Asks the window manager to put `window`'s own area at `topLeft` (the
// window is told where it went when the window manager has moved it).
void moveTo(QWidget* window, QPoint topLeft) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    const auto id = xcb_window_t(window->winId());
    if (!positionsItsOwnArea(x11->connection(), id)) {
        const QMargins around = frame(window).value_or(QMargins());
        topLeft -= QPoint(around.left(), around.top());
    }
    const qreal ratio = window->devicePixelRatioF();
    const quint32 values[] = {quint32(std::lround(topLeft.x() * ratio)),
                              quint32(std::lround(topLeft.y() * ratio))};
    xcb_configure_window(x11->connection(), id, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y,
                         values);
    xcb_flush(x11->connection());
}

} // namespace

ScreenFit::WindowServer windowServerX11() {
    return {frame, place, moveTo};
}
