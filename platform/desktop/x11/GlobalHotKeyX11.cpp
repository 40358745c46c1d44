// The X11 backend of GlobalHotKey: each combination grabbed on the root
// window of the X server (also with Num Lock and Caps Lock held), its presses
// seen in Qt's X event stream.
#include "platform/desktop/GlobalHotKey.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QGuiApplication>
#include <QHash>
#include <QSet>

// The X headers come last: they define macros (None, Bool, KeyPress...) that
// collide with names in Qt's headers.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <xcb/xcb.h>

#include <array>
#include <cstdlib>

namespace GlobalHotKey {

namespace {

// Modifiers that say nothing about the combination: Num Lock (Mod2 on every
// common keymap) and Caps Lock. A grab is made once per combination of them,
// because X compares the full modifier state when it matches a grab.
constexpr quint16 numLock = XCB_MOD_MASK_2;
constexpr quint16 capsLock = XCB_MOD_MASK_LOCK;
constexpr std::array<quint16, 4> lockVariants{0, numLock, capsLock, numLock | capsLock};
constexpr quint16 relevantModifiers =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

quint16 xModifiers(quint32 carbon) {
    quint16 mask = 0;
    if (carbon & carbonCommand) mask |= XCB_MOD_MASK_CONTROL;
    if (carbon & carbonOption) mask |= XCB_MOD_MASK_1;
    if (carbon & carbonShift) mask |= XCB_MOD_MASK_SHIFT;
    if (carbon & carbonControl) mask |= XCB_MOD_MASK_4;
    return mask;
}

struct Grab {
    xcb_keycode_t keycode = 0;
    quint16 modifiers = 0;
};

struct X11 {
    xcb_connection_t* connection = nullptr;
    Display* display = nullptr;
    xcb_window_t root = 0;
};

std::optional<X11> x11() {
    auto* app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!app || !app->connection() || !app->display()) return std::nullopt;
    X11 x{app->connection(), app->display(), 0};
    const xcb_setup_t* setup = xcb_get_setup(x.connection);
    x.root = xcb_setup_roots_iterator(setup).data->root;
    return x;
}

// Watches the key events X delivers for the grabs. A held key must fire only
// once (a repeated press would, for instance, advance an HOTP counter again),
// so a press counts only when its key is not already down: with detectable
// auto-repeat the server sends repeats as presses without releases, and
// without it a repeat is a release and a press with the same timestamp.
// Main thread only, like every call of this layer.
class Filter : public QAbstractNativeEventFilter {
public:
    QHash<quint32, Grab> grabs;

    void forgetKeys() {
        m_down.clear();
        m_lastRelease = {0, 0};
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t" || isSuspended()) return false;
        auto* event = static_cast<xcb_generic_event_t*>(message);
        const quint8 kind = event->response_type & 0x7f;
        if (kind != XCB_KEY_PRESS && kind != XCB_KEY_RELEASE) return false;
        auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
        if (kind == XCB_KEY_RELEASE) {
            if (!m_down.contains(key->detail)) return false;
            m_down.remove(key->detail);
            m_lastRelease = {key->detail, key->time};
            return true;
        }
        const quint16 state = key->state & relevantModifiers;
        for (auto it = grabs.cbegin(); it != grabs.cend(); ++it) {
            if (it->keycode != key->detail || it->modifiers != state) continue;
            const bool repeat =
                m_down.contains(key->detail) ||
                (m_lastRelease.first == key->detail && m_lastRelease.second == key->time);
            m_down.insert(key->detail);
            if (!repeat) emit dispatcher().pressed(it.key());
            return true;
        }
        return false;
    }

private:
    QSet<xcb_keycode_t> m_down;
    std::pair<xcb_keycode_t, xcb_timestamp_t> m_lastRelease{0, 0};
};

Filter*& filterInstance() {
    static Filter* instance = nullptr;
    return instance;
}

Filter* filter(Display* display) {
    Filter*& instance = filterInstance();
    if (!instance) {
        instance = new Filter;
        qGuiApp->installNativeEventFilter(instance);
        // Per client: repeats of a held key then come without releases.
        Bool supported = False;
        XkbSetDetectableAutoRepeat(display, True, &supported);
    }
    return instance;
}

void ungrab(const X11& x, const Grab& grab) {
    for (quint16 variant : lockVariants)
        xcb_ungrab_key(x.connection, grab.keycode, x.root, grab.modifiers | variant);
    xcb_flush(x.connection);
}

} // namespace

std::optional<quint32> keyCodeForNativeScanCode(quint32 nativeScanCode) {
    const std::optional<X11> x = x11();
    if (!x || nativeScanCode < 8 || nativeScanCode > 255) return std::nullopt;
    const KeySym symbol = XkbKeycodeToKeysym(x->display, KeyCode(nativeScanCode), 0, 0);
    if (symbol == NoSymbol) return std::nullopt;
    // Letters come lower-case at level 0 on every common layout, but a
    // layout may put the capital there.
    KeySym lower = symbol, upper = symbol;
    XConvertCase(symbol, &lower, &upper);
    return keyCodeForKeysym(quint32(lower));
}

namespace {

class X11Backend : public Backend {
public:
    int registerHotKey(quint32 macKeyCode, quint32 carbonModifiers, quint32 id,
                       const QString&) override {
        const std::optional<X11> x = x11();
        if (!x) return notX11;
        unregisterHotKey(id);
        const quint32 keysym = keysymForKeyCode(macKeyCode);
        const KeyCode keycode = keysym ? XKeysymToKeycode(x->display, keysym) : 0;
        if (keycode == 0) return unknownKey;
        Filter* watcher = filter(x->display);

        const Grab grab{keycode, xModifiers(carbonModifiers)};
        std::array<xcb_void_cookie_t, lockVariants.size()> cookies{};
        for (std::size_t i = 0; i < lockVariants.size(); ++i)
            cookies[i] = xcb_grab_key_checked(x->connection, 1, x->root,
                                              grab.modifiers | lockVariants[i], grab.keycode,
                                              XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        int status = ok;
        for (xcb_void_cookie_t cookie : cookies) {
            if (xcb_generic_error_t* error = xcb_request_check(x->connection, cookie)) {
                if (status == ok)
                    status = error->error_code == XCB_ACCESS ? alreadyGrabbed : grabFailed;
                std::free(error);
            }
        }
        if (status != ok) {
            // Our own grabs of the variants that succeeded; another client's
            // grab is untouched by an ungrab from this connection.
            ungrab(*x, grab);
            return status;
        }
        watcher->grabs.insert(id, grab);
        return ok;
    }

    void unregisterHotKey(quint32 id) override {
        const std::optional<X11> x = x11();
        if (!x) return;
        Filter* watcher = filter(x->display);
        const auto it = watcher->grabs.constFind(id);
        if (it == watcher->grabs.cend()) return;
        const Grab grab = *it;
        watcher->grabs.erase(it);
        // Another id may hold the same combination; keep X's grab for it.
        for (const Grab& other : std::as_const(watcher->grabs))
            if (other.keycode == grab.keycode && other.modifiers == grab.modifiers) return;
        ungrab(*x, grab);
    }

    DesktopState state(quint32 id) const override {
        const Filter* instance = filterInstance();
        DesktopState state;
        if (instance && instance->grabs.contains(id)) state.kind = DesktopState::Kind::active;
        return state;
    }

    bool desktopDecides() const override { return false; }
    bool lacksShortcuts() const override { return false; }
    // An active keyboard grab keeps every passive key grab from firing, the
    // window manager's and the desktop's among them.
    bool grabTakesEveryKey() const override { return true; }

    // Keys held when a suspension starts or ends are forgotten: their
    // releases may go to the recorder, and a stale "down" would swallow the
    // next press.
    void suspensionChanged() override {
        if (Filter* instance = filterInstance()) instance->forgetKeys();
    }
};

} // namespace

Backend& x11Backend() { return backendInstance<X11Backend>(); }

} // namespace GlobalHotKey
