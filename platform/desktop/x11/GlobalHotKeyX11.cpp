// The X11 backend of GlobalHotKey: each combination grabbed on the root
// window of the X server (also with Num Lock and Caps Lock held), its presses
// seen in Qt's X event stream. A grab holds a key, not a letter: whenever the
// keyboard or its layout changes, each combination is grabbed again on the
// key that now bears its letter, as the desktop's own shortcuts follow.
#include "platform/desktop/GlobalHotKey.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QGuiApplication>
#include <QHash>
#include <QSet>
#include <QTimer>

// The X headers come last: they define macros (None, Bool, KeyPress...) that
// collide with names in Qt's headers.
#include "platform/desktop/x11/XkbKeymap.h"
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <xcb/xcb.h>

#include <array>
#include <cstdlib>
#include <cstring>

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
    // 0 while no key of the layout in use bears the letter, or another
    // program holds the combination on the key that does.
    xcb_keycode_t keycode = 0;
    quint16 modifiers = 0;
    // The stored key, whose letter the grab follows.
    quint32 macKeyCode = 0;
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

// The letters of the keyboard as the server has it at this moment
// (XkbKeymap: read afresh each time).
class Keymap {
public:
    explicit Keymap(Display* display) : m_map(display) {}

    // The key that bears `symbol` (unshifted or shifted) in the group in
    // use; where that group has none (a Cyrillic layout and a Latin
    // letter), the key that bears it in the first group that has one, as
    // the desktop's shortcuts do. 0 when no group has it.
    KeyCode keycodeFor(KeySym symbol) const {
        if (!m_map.valid()) return 0;
        if (const KeyCode key = keycodeIn(m_map.group(), symbol)) return key;
        for (int group = 0; group < XkbNumKbdGroups; ++group)
            if (const KeyCode key = keycodeIn(group, symbol)) return key;
        return 0;
    }

    // The stored key code for an X key: what the key bears in the group in
    // use, or where that is no key the table knows (a Cyrillic letter), in
    // the first group where it is.
    std::optional<quint32> macKeyCodeOf(KeyCode key) const {
        if (!m_map.valid() || key < m_map.desc()->min_key_code || key > m_map.desc()->max_key_code)
            return std::nullopt;
        if (const auto code = macKeyCodeIn(m_map.group(), key)) return code;
        for (int group = 0; group < XkbNumKbdGroups; ++group)
            if (const auto code = macKeyCodeIn(group, key)) return code;
        return std::nullopt;
    }

private:
    // The symbol at a level of a key: in the group in use as the server
    // resolves it for that key (`resolved`); otherwise only where the key
    // has that group of its own.
    KeySym symbolAt(KeyCode key, int group, int level, bool resolved) const {
        const int groups = XkbKeyNumGroups(m_map.desc(), key);
        if (!(resolved && group == m_map.group()) && group >= groups) return NoSymbol;
        const int used = m_map.groupOf(key, group);
        if (used < 0 || level >= XkbKeyGroupWidth(m_map.desc(), key, used)) return NoSymbol;
        return XkbKeySymEntry(m_map.desc(), key, level, used);
    }

    static KeySym lowered(KeySym symbol) {
        KeySym lower = symbol, upper = symbol;
        XConvertCase(symbol, &lower, &upper);
        return lower;
    }

    // Unshifted symbols first: a symbol another key bears shifted (on an
    // AZERTY keyboard the digits) counts only where none bears it alone.
    // Only keys that have the group of their own count: a key with fewer
    // groups repeats its first one in the others, and among such keys are
    // the spare key codes that typing programs (this one too) lend a letter
    // the layout in use lacks for a moment. Under a Russian group such a key
    // would otherwise take the combination from the key that bears the letter
    // in the set's Latin layout. Keys with one group are found in group 0.
    KeyCode keycodeIn(int group, KeySym symbol) const {
        const XkbDescPtr desc = m_map.desc();
        for (int level = 0; level < 2; ++level)
            for (int key = desc->min_key_code; key <= desc->max_key_code; ++key) {
                const KeySym found = symbolAt(KeyCode(key), group, level, false);
                if (found != NoSymbol && lowered(found) == symbol) return KeyCode(key);
            }
        return 0;
    }

    std::optional<quint32> macKeyCodeIn(int group, KeyCode key) const {
        for (int level = 0; level < 2; ++level) {
            const KeySym found = symbolAt(key, group, level, true);
            if (found == NoSymbol) continue;
            if (const auto code = keyCodeForKeysym(quint32(lowered(found)))) return code;
        }
        return std::nullopt;
    }

    XkbKeymap m_map;
};

void regrabAll();

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

    int xkbEventBase = -1;

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        auto* event = static_cast<xcb_generic_event_t*>(message);
        const quint8 kind = event->response_type & 0x7f;
        // Seen also while suspended, and passed on: Qt reads them too.
        if (keyboardChanged(event, kind)) scheduleRegrab();
        if (isSuspended() || (kind != XCB_KEY_PRESS && kind != XCB_KEY_RELEASE)) return false;
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
    // A new keyboard, a new keymap (setxkbmap, xmodmap) or another group
    // (the user switched layouts).
    bool keyboardChanged(const xcb_generic_event_t* event, quint8 kind) const {
        if (kind == XCB_MAPPING_NOTIFY)
            return reinterpret_cast<const xcb_mapping_notify_event_t*>(event)->request ==
                   XCB_MAPPING_KEYBOARD;
        if (xkbEventBase < 0 || kind != xkbEventBase) return false;
        const auto* bytes = reinterpret_cast<const quint8*>(event);
        switch (bytes[1]) {
        case XkbNewKeyboardNotify:
        case XkbMapNotify:
            return true;
        case XkbStateNotify: {
            // The wire event's "changed" field.
            quint16 changed = 0;
            std::memcpy(&changed, bytes + 26, sizeof changed);
            return changed & XkbGroupStateMask;
        }
        default:
            return false;
        }
    }

    // One regrab after a burst of changes (setxkbmap sends several).
    void scheduleRegrab() {
        if (m_regrabPending) return;
        m_regrabPending = true;
        QTimer::singleShot(0, qGuiApp, [this] {
            m_regrabPending = false;
            regrabAll();
        });
    }

    bool m_regrabPending = false;
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
        // Told of every keyboard and layout change. Only these events'
        // selection is touched: Qt selects others of the same client.
        int opcode = 0, eventBase = 0, errorBase = 0;
        int major = XkbMajorVersion, minor = XkbMinorVersion;
        if (XkbQueryExtension(display, &opcode, &eventBase, &errorBase, &major, &minor)) {
            instance->xkbEventBase = eventBase;
            const unsigned int changes = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
            XkbSelectEvents(display, XkbUseCoreKbd, changes, changes);
            XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbGroupStateMask,
                                  XkbGroupStateMask);
            XFlush(display);
        }
    }
    return instance;
}

void ungrab(const X11& x, const Grab& grab) {
    if (grab.keycode == 0) return;
    for (quint16 variant : lockVariants)
        xcb_ungrab_key(x.connection, grab.keycode, x.root, grab.modifiers | variant);
    xcb_flush(x.connection);
}

// Grabs the key with every lock variant: ok, or why not, with none of the
// variants kept.
int grab(const X11& x, const Grab& grab) {
    std::array<xcb_void_cookie_t, lockVariants.size()> cookies{};
    for (std::size_t i = 0; i < lockVariants.size(); ++i)
        cookies[i] = xcb_grab_key_checked(x.connection, 1, x.root, grab.modifiers | lockVariants[i],
                                          grab.keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    int status = ok;
    for (xcb_void_cookie_t cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(x.connection, cookie)) {
            if (status == ok)
                status = error->error_code == XCB_ACCESS ? alreadyGrabbed : grabFailed;
            std::free(error);
        }
    }
    // Our own grabs of the variants that succeeded; another client's grab
    // is untouched by an ungrab from this connection.
    if (status != ok) ungrab(x, grab);
    return status;
}

bool sameKeys(const Grab& a, const Grab& b) {
    return a.keycode == b.keycode && a.modifiers == b.modifiers;
}

// Every combination moved to the key that bears its letter now. Keys that
// stay where they were keep their grabs, so no press is lost to the change.
void regrabAll() {
    const std::optional<X11> x = x11();
    Filter* instance = filterInstance();
    if (!x || !instance || instance->grabs.isEmpty()) return;
    const Keymap keymap(x->display);
    QHash<quint32, Grab> wanted;
    for (auto it = instance->grabs.cbegin(); it != instance->grabs.cend(); ++it) {
        Grab next = *it;
        next.keycode = keymap.keycodeFor(keysymForKeyCode(it->macKeyCode));
        wanted.insert(it.key(), next);
    }
    const auto held = [](const QHash<quint32, Grab>& grabs, const Grab& keys) {
        for (const Grab& other : grabs)
            if (other.keycode != 0 && sameKeys(other, keys)) return true;
        return false;
    };
    for (const Grab& old : std::as_const(instance->grabs))
        if (!held(wanted, old)) ungrab(*x, old);
    // Each new key asked for once, also where two ids share a combination.
    QHash<quint32, bool> answers;
    for (auto it = wanted.begin(); it != wanted.end(); ++it) {
        if (it->keycode == 0 || held(instance->grabs, *it)) continue;
        const quint32 keys = quint32(it->keycode) << 16 | it->modifiers;
        if (!answers.contains(keys)) answers.insert(keys, grab(*x, *it) == ok);
        if (!answers.value(keys)) it->keycode = 0;
    }
    instance->grabs = wanted;
}

} // namespace

std::optional<quint32> keyCodeForNativeScanCode(quint32 nativeScanCode) {
    const std::optional<X11> x = x11();
    if (!x || nativeScanCode < 8 || nativeScanCode > 255) return std::nullopt;
    return Keymap(x->display).macKeyCodeOf(KeyCode(nativeScanCode));
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
        const KeyCode keycode = keysym ? Keymap(x->display).keycodeFor(keysym) : 0;
        if (keycode == 0) return unknownKey;
        Filter* watcher = filter(x->display);

        const Grab keys{keycode, xModifiers(carbonModifiers), macKeyCode};
        // Another id may hold the same combination: its grab serves both.
        bool shared = false;
        for (const Grab& other : std::as_const(watcher->grabs))
            shared = shared || (other.keycode != 0 && sameKeys(other, keys));
        if (!shared) {
            if (const int status = grab(*x, keys); status != ok) return status;
        }
        watcher->grabs.insert(id, keys);
        return ok;
    }

    void unregisterHotKey(quint32 id) override {
        const std::optional<X11> x = x11();
        if (!x) return;
        Filter* watcher = filter(x->display);
        const auto it = watcher->grabs.constFind(id);
        if (it == watcher->grabs.cend()) return;
        const Grab keys = *it;
        watcher->grabs.erase(it);
        // Another id may hold the same combination; keep X's grab for it.
        for (const Grab& other : std::as_const(watcher->grabs))
            if (sameKeys(other, keys)) return;
        ungrab(*x, keys);
    }

    DesktopState state(quint32 id) const override {
        const Filter* instance = filterInstance();
        DesktopState state;
        if (!instance || !instance->grabs.contains(id)) return state;
        // Not active while the layout in use leaves it without a key.
        state.kind = instance->grabs.value(id).keycode != 0 ? DesktopState::Kind::active
                                                            : DesktopState::Kind::inactive;
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

Backend& x11Backend() {
    return backendInstance<X11Backend>();
}

} // namespace GlobalHotKey
