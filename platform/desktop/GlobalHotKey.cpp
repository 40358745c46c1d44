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
#include <X11/keysym.h>
#include <xcb/xcb.h>

#include <array>
#include <cstdlib>
#include <unordered_map>

namespace GlobalHotKey {

namespace {

// Carbon mask bits of the stored combinations.
constexpr quint32 carbonCommand = 0x100;
constexpr quint32 carbonShift = 0x200;
constexpr quint32 carbonOption = 0x800;
constexpr quint32 carbonControl = 0x1000;

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
int suspensions = 0;

class Filter : public QAbstractNativeEventFilter {
public:
    QHash<quint32, Grab> grabs;

    void forgetKeys() {
        m_down.clear();
        m_lastRelease = {0, 0};
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t" || suspensions > 0) return false;
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

Dispatcher& dispatcher() {
    static Dispatcher* instance = new Dispatcher;
    return *instance;
}

namespace {

// macOS virtual key code -> X keysym (ANSI layout positions).
const std::unordered_map<quint32, quint32>& keysymTable() {
    static const std::unordered_map<quint32, quint32> table{
        {0, XK_a},
        {1, XK_s},
        {2, XK_d},
        {3, XK_f},
        {4, XK_h},
        {5, XK_g},
        {6, XK_z},
        {7, XK_x},
        {8, XK_c},
        {9, XK_v},
        {11, XK_b},
        {12, XK_q},
        {13, XK_w},
        {14, XK_e},
        {15, XK_r},
        {16, XK_y},
        {17, XK_t},
        {31, XK_o},
        {32, XK_u},
        {34, XK_i},
        {35, XK_p},
        {37, XK_l},
        {38, XK_j},
        {40, XK_k},
        {45, XK_n},
        {46, XK_m},
        {18, XK_1},
        {19, XK_2},
        {20, XK_3},
        {21, XK_4},
        {22, XK_6},
        {23, XK_5},
        {25, XK_9},
        {26, XK_7},
        {28, XK_8},
        {29, XK_0},
        {24, XK_equal},
        {27, XK_minus},
        {30, XK_bracketright},
        {33, XK_bracketleft},
        {39, XK_apostrophe},
        {41, XK_semicolon},
        {42, XK_backslash},
        {43, XK_comma},
        {44, XK_slash},
        {47, XK_period},
        {50, XK_grave},
        {36, XK_Return},
        {48, XK_Tab},
        {49, XK_space},
        {51, XK_BackSpace},
        {53, XK_Escape},
        {122, XK_F1},
        {120, XK_F2},
        {99, XK_F3},
        {118, XK_F4},
        {96, XK_F5},
        {97, XK_F6},
        {98, XK_F7},
        {100, XK_F8},
        {101, XK_F9},
        {109, XK_F10},
        {103, XK_F11},
        {111, XK_F12},
        {123, XK_Left},
        {124, XK_Right},
        {125, XK_Down},
        {126, XK_Up},
    };
    return table;
}

} // namespace

quint32 keysymForKeyCode(quint32 macKeyCode) {
    const auto it = keysymTable().find(macKeyCode);
    return it == keysymTable().end() ? 0 : it->second;
}

std::optional<quint32> keyCodeForNativeScanCode(quint32 nativeScanCode) {
    const std::optional<X11> x = x11();
    if (!x || nativeScanCode < 8 || nativeScanCode > 255) return std::nullopt;
    const KeySym symbol = XkbKeycodeToKeysym(x->display, KeyCode(nativeScanCode), 0, 0);
    if (symbol == NoSymbol) return std::nullopt;
    // Letters come lower-case at level 0 on every common layout, but a
    // layout may put the capital there.
    KeySym lower = symbol, upper = symbol;
    XConvertCase(symbol, &lower, &upper);
    for (const auto& [code, keysym] : keysymTable())
        if (keysym == lower) return code;
    return std::nullopt;
}

// Keys held when the suspension starts or ends are forgotten: their releases
// may go to the recorder, and a stale "down" would swallow the next press.
void suspend() {
    if (suspensions++ == 0)
        if (Filter* instance = filterInstance()) instance->forgetKeys();
}

void resume() {
    if (suspensions == 0) return;
    if (--suspensions == 0)
        if (Filter* instance = filterInstance()) instance->forgetKeys();
}

bool isSuspended() { return suspensions > 0; }

QString portalTrigger(quint32 macKeyCode, quint32 carbonModifiers) {
    const quint32 keysym = keysymForKeyCode(macKeyCode);
    const char* name = keysym ? XKeysymToString(keysym) : nullptr;
    if (!name) return {};
    QString trigger;
    if (carbonModifiers & carbonCommand) trigger += QLatin1String("CTRL+");
    if (carbonModifiers & carbonOption) trigger += QLatin1String("ALT+");
    if (carbonModifiers & carbonShift) trigger += QLatin1String("SHIFT+");
    if (carbonModifiers & carbonControl) trigger += QLatin1String("LOGO+");
    return trigger + QString::fromLatin1(name);
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
};

} // namespace

Backend& x11Backend() { return backendInstance<X11Backend>(); }

int registerHotKey(quint32 macKeyCode, quint32 carbonModifiers, quint32 id,
                   const QString& description) {
    return backend().registerHotKey(macKeyCode, carbonModifiers, id, description);
}

void unregisterHotKey(quint32 id) { backend().unregisterHotKey(id); }

DesktopState desktopState(quint32 id) { return backend().state(id); }

bool desktopDecides() { return backend().desktopDecides(); }

bool lacksShortcuts() { return backend().lacksShortcuts(); }

} // namespace GlobalHotKey
