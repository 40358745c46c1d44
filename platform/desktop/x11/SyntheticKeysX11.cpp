// The X11 backend of SyntheticKeys: keys sent through the X server's XTEST
// extension to whatever window has the keyboard focus.
#include "platform/desktop/SyntheticKeys.h"

#include "platform/desktop/x11/X11Display.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHash>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include "platform/desktop/x11/XkbKeymap.h"
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <vector>

namespace SyntheticKeys {
namespace {

void sendKey(Display* display, KeyCode code, bool down) {
    XTestFakeKeyEvent(display, code, down ? True : False, CurrentTime);
}

bool isHeld(const char keys[32], int code) {
    return (keys[code / 8] & (1 << (code % 8))) != 0;
}

// The keys the user holds down, as the server sees them now.
struct HeldKeys {
    std::vector<KeyCode> modifiers; // Shift, Control, Alt, Super, AltGr...
    bool others = false;            // any other key (a hotkey's letter, Return)
    bool any() const { return others || !modifiers.empty(); }
};

// Caps Lock and Num Lock (Mod2 on every common keymap) are left out: their
// keys toggle a lock, and a key that merely locks changes nothing while
// held; pressing or releasing it on the user's behalf could flip the lock.
HeldKeys heldKeys(Display* display) {
    HeldKeys held;
    char keys[32] = {};
    XQueryKeymap(display, keys);
    XModifierKeymap* map = XGetModifierMapping(display);
    int minCode = 0, maxCode = 0;
    XDisplayKeycodes(display, &minCode, &maxCode);
    std::vector<bool> modifier(256, false), lock(256, false);
    if (map) {
        for (int row = 0; row < 8; ++row)
            for (int i = 0; i < map->max_keypermod; ++i) {
                const KeyCode code = map->modifiermap[row * map->max_keypermod + i];
                if (code == 0) continue;
                modifier[code] = true;
                if (row == LockMapIndex || row == Mod2MapIndex) lock[code] = true;
            }
        XFreeModifiermap(map);
    }
    for (int code = std::max(minCode, 8); code <= std::min(maxCode, 255); ++code) {
        if (!isHeld(keys, code) || lock[code]) continue;
        if (modifier[code])
            held.modifiers.push_back(KeyCode(code));
        else
            held.others = true;
    }
    return held;
}

// Makes the server see every held modifier key as let go, so that the next
// key carries no flags. A key the user holds on another keyboard than
// XTEST's own is up for XTEST, and the server ignores a release of it there:
// so each is pressed first (no event while it is already down) and then
// released. Nothing is pressed again afterwards: a key let go in the
// meantime would then stay down for the server.
void releaseHeldModifiers(Display* display) {
    for (const KeyCode code : heldKeys(display).modifiers) {
        sendKey(display, code, true);
        sendKey(display, code, false);
    }
}

// While a hotkey's own key is down, the keyboard is grabbed for this
// program: the window in front saw the hotkey's modifiers go down but gets
// none of the releases that come during the grab. Most programs go by the
// state each key event carries, but some keep their own count: rxvt-unicode,
// having seen Control and Shift go down together, takes the next digits as a
// character's hexadecimal code until it sees one of them come up. So the
// releases this program swallowed are noted here, and before typing each of
// Control and Shift among them is pressed and let go once, for the window in
// front to see it come up. Alt and Super are left alone: a lone tap of those
// opens a menu bar or the desktop's launcher.
class SwallowedReleases : public QAbstractNativeEventFilter {
public:
    static constexpr qint64 keptMs = 5000;

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        auto* event = static_cast<xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_KEY_RELEASE) return false;
        auto* key = reinterpret_cast<xcb_key_release_event_t*>(event);
        // Only a grab on a root window brings this program key events
        // there; its own windows have their own ids.
        if (key->event == key->root) m_keys[key->detail] = QDateTime::currentMSecsSinceEpoch();
        return false;
    }

    // Control and Shift keys released unseen lately; forgotten once taken.
    std::vector<KeyCode> take(Display* display) {
        std::vector<KeyCode> taken;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        XModifierKeymap* map = XGetModifierMapping(display);
        for (auto it = m_keys.cbegin(); it != m_keys.cend(); ++it) {
            if (now - it.value() > keptMs || !map) continue;
            for (const int row : {ShiftMapIndex, ControlMapIndex})
                for (int i = 0; i < map->max_keypermod; ++i)
                    if (map->modifiermap[row * map->max_keypermod + i] == it.key())
                        taken.push_back(KeyCode(it.key()));
        }
        if (map) XFreeModifiermap(map);
        m_keys.clear();
        return taken;
    }

private:
    QHash<quint8, qint64> m_keys;
};

SwallowedReleases* swallowedReleases() {
    static SwallowedReleases* watcher = nullptr;
    if (!watcher && qGuiApp && QGuiApplication::platformName() == QLatin1String("xcb")) {
        watcher = new SwallowedReleases;
        qGuiApp->installNativeEventFilter(watcher);
    }
    return watcher;
}

// Key codes with no symbols at all, lent to characters the layout lacks. A
// receiving program reads the key map only when it gets round to an event,
// which under load can be long after the server sent it; a key code that
// meant something else by then delivers nothing, or the wrong character. So
// each character keeps its own key code while it is typed, and the codes go
// back to empty only a while after the last use (or when the program quits).
class BorrowedKeys {
public:
    static constexpr int givenBackAfterMs = 2000;

    explicit BorrowedKeys(Display* display) : display_(display) {}

    // The key code carrying `sym`, bound now if needed; zero when the
    // keyboard has no key code to spare.
    KeyCode lend(KeySym sym) {
        for (const Lent& lent : lent_)
            if (lent.sym == sym) return lent.code;
        KeyCode code = spareKeyCode();
        if (code == 0 && !lent_.empty()) {
            // All spares carry other characters: take them all back first,
            // after giving the receiver a moment for what they carried.
            XSync(display_, False);
            QThread::msleep(50);
            giveBack();
            code = spareKeyCode();
        }
        if (code == 0) return 0;
        KeySym both[2] = {sym, sym};
        XChangeKeyboardMapping(display_, code, 2, both, 1);
        XSync(display_, False);
        lent_.push_back({code, sym});
        return code;
    }

    // Forgets the codes a new keyboard map (setxkbmap, a layout switch by
    // the desktop) replaced: they are no longer ours to use or to empty.
    void forgetReplaced() {
        std::erase_if(lent_, [this](const Lent& lent) {
            int perCode = 0;
            KeySym* syms = XGetKeyboardMapping(display_, lent.code, 1, &perCode);
            const bool ours = syms && perCode > 0 && syms[0] == lent.sym;
            if (syms) XFree(syms);
            return !ours;
        });
    }

    // Empties every lent key code again.
    void giveBack() {
        forgetReplaced();
        if (lent_.empty()) return;
        KeySym none = NoSymbol;
        for (const Lent& lent : lent_)
            XChangeKeyboardMapping(display_, lent.code, 1, &none, 1);
        XSync(display_, False);
        lent_.clear();
    }

    // Gives the codes back later, once receivers have surely read them;
    // every use starts the wait afresh.
    void giveBackLater() {
        if (lent_.empty()) return;
        if (!timer_) {
            QCoreApplication* app = QCoreApplication::instance();
            if (!app) {
                giveBack();
                return;
            }
            timer_ = new QTimer(app);
            timer_->setSingleShot(true);
            QObject::connect(timer_, &QTimer::timeout, app, [this] { giveBack(); });
            QObject::connect(app, &QCoreApplication::aboutToQuit, app, [this] { giveBack(); });
        }
        timer_->start(givenBackAfterMs);
    }

private:
    struct Lent {
        KeyCode code;
        KeySym sym;
    };

    bool isLent(int code) const {
        for (const Lent& lent : lent_)
            if (lent.code == code) return true;
        return false;
    }

    KeyCode spareKeyCode() const {
        int minCode = 0, maxCode = 0;
        XDisplayKeycodes(display_, &minCode, &maxCode);
        int perCode = 0;
        KeySym* syms = XGetKeyboardMapping(display_, static_cast<KeyCode>(minCode),
                                           maxCode - minCode + 1, &perCode);
        if (!syms) return 0;
        KeyCode spare = 0;
        for (int code = maxCode; code >= minCode && spare == 0; --code) {
            bool empty = !isLent(code);
            for (int i = 0; i < perCode && empty; ++i)
                if (syms[(code - minCode) * perCode + i] != NoSymbol) empty = false;
            if (empty) spare = static_cast<KeyCode>(code);
        }
        XFree(syms);
        return spare;
    }

    Display* display_;
    std::vector<Lent> lent_;
    QPointer<QTimer> timer_;
};

// The one lender for Qt's display, which lives as long as the program.
BorrowedKeys& borrowedKeys(Display* display) {
    static BorrowedKeys keys(display);
    return keys;
}

// The keyboard as it is at the moment of typing (XkbKeymap: the server's key
// map, the group in use and the locks, read afresh for each text) and the
// keys that give Shift and the third level in it.
class Keyboard {
public:
    explicit Keyboard(Display* display) : display_(display), map_(display) { findModifierKeys(); }

    // A key and the modifiers to hold with it that give `sym` in the group
    // in use, as the receiving program will read it.
    struct Choice {
        KeyCode code = 0;
        std::vector<KeyCode> hold;
    };
    std::optional<Choice> find(KeySym sym) const {
        if (!map_.valid()) return std::nullopt;
        const XkbDescPtr desc = map_.desc();
        // Modifier sets we can press, fewest first.
        const unsigned candidates[] = {0, ShiftMask, level3_.mask, ShiftMask | level3_.mask};
        for (const unsigned mods : candidates) {
            if ((mods & ShiftMask && !shift_.code) || (mods & ~ShiftMask && !level3_.code))
                continue;
            for (int code = desc->min_key_code; code <= desc->max_key_code; ++code)
                if (gives(KeyCode(code), mods, sym)) {
                    Choice choice{KeyCode(code), {}};
                    if (mods & ShiftMask) choice.hold.push_back(shift_.code);
                    if (mods & ~ShiftMask) choice.hold.push_back(level3_.code);
                    return choice;
                }
        }
        return std::nullopt;
    }

private:
    struct ModifierKey {
        KeyCode code = 0;
        unsigned mask = 0;
    };

    // Whether pressing `code` with `pressed` held (and the locks as they
    // are) makes the receiver read `sym`.
    bool gives(KeyCode code, unsigned pressed, KeySym sym) const {
        const int group = map_.groupOf(code);
        if (group < 0) return false;
        const XkbDescPtr desc = map_.desc();
        const unsigned locked = map_.lockedModifiers();
        XkbKeyTypePtr type = XkbKeyKeyType(desc, code, group);
        const unsigned mods = (pressed | locked) & type->mods.mask;
        int level = 0;
        for (int i = 0; i < type->map_count; ++i) {
            const XkbKTMapEntryRec& entry = type->map[i];
            if (entry.active && entry.mods.mask == mods) {
                level = entry.level;
                break;
            }
        }
        if (level >= XkbKeyGroupWidth(desc, code, group)) return false;
        KeySym got = XkbKeySymEntry(desc, code, level, group);
        // Caps Lock that the key's type leaves alone capitalises the letter
        // on the receiver's side.
        if ((locked & LockMask) && !(type->mods.mask & LockMask)) {
            KeySym lower = 0, upper = 0;
            XConvertCase(got, &lower, &upper);
            got = upper;
        }
        return got == sym && sym != NoSymbol;
    }

    // Shift, and the modifier that picks the third level (AltGr), each
    // with a key that sets it in the group in use.
    void findModifierKeys() {
        XModifierKeymap* map = XGetModifierMapping(display_);
        if (!map || !map_.valid()) {
            if (map) XFreeModifiermap(map);
            return;
        }
        for (int row = 0; row < 8; ++row)
            for (int i = 0; i < map->max_keypermod; ++i) {
                const KeyCode code = map->modifiermap[row * map->max_keypermod + i];
                const int group = code ? map_.groupOf(code) : -1;
                if (group < 0) continue;
                const KeySym sym = XkbKeySymEntry(map_.desc(), code, 0, group);
                if (!shift_.code && row == ShiftMapIndex &&
                    (sym == XK_Shift_L || sym == XK_Shift_R))
                    shift_ = {code, ShiftMask};
                if (!level3_.code && row > Mod1MapIndex && sym == XK_ISO_Level3_Shift)
                    level3_ = {code, 1u << row};
            }
        XFreeModifiermap(map);
    }

    Display* display_;
    XkbKeymap map_;
    ModifierKey shift_;
    ModifierKey level3_;
};

class Typist {
public:
    explicit Typist(Display* display)
        : display_(display), borrowed_(borrowedKeys(display)), keyboard_(display) {
        borrowed_.forgetReplaced();
    }

    ~Typist() { borrowed_.giveBackLater(); }

    void type(char32_t c) {
        // A modifier the user pressed or still holds would change the key.
        releaseHeldModifiers(display_);
        const KeySym sym = keysymFor(c);
        if (const auto choice = keyboard_.find(sym)) {
            press(choice->code, choice->hold);
            return;
        }
        // Not in the layout in use: a key code of its own.
        if (const KeyCode lent = borrowed_.lend(sym)) press(lent, {});
    }

private:
    void press(KeyCode code, const std::vector<KeyCode>& hold) {
        for (const KeyCode modifier : hold)
            sendKey(display_, modifier, true);
        sendKey(display_, code, true);
        sendKey(display_, code, false);
        for (auto it = hold.rbegin(); it != hold.rend(); ++it)
            sendKey(display_, *it, false);
    }

    Display* display_;
    BorrowedKeys& borrowed_;
    Keyboard keyboard_;
};

bool typeWithXTest(const QString& text) {
    if (!X11Display::hasXTest()) return false;
    Display* display = X11Display::get();
    if (SwallowedReleases* swallowed = swallowedReleases()) {
        for (const KeyCode code : swallowed->take(display)) {
            sendKey(display, code, true);
            sendKey(display, code, false);
        }
    }
    {
        Typist typist(display);
        for (const char32_t c : text.toUcs4())
            typist.type(c);
    }
    XSync(display, False);
    return true;
}

// Texts waiting for the user to let go of the keys that asked for them (a
// hotkey, Return in quick search), typed in turn. While a hotkey's own key
// is down the keyboard is still grabbed for this program, so keys sent then
// never reach the window in front; modifiers still down would make the
// digits shortcuts (Control+4 is ^D in a terminal). The keys are looked at
// from a timer, never in a loop that would hold up the GUI thread.
class WaitingTexts : public QObject {
public:
    static constexpr int pollMs = 10;
    static constexpr int waitAtMostMs = 1000;

    explicit WaitingTexts(QObject* parent) : QObject(parent) {
        m_poll.setSingleShot(true);
        connect(&m_poll, &QTimer::timeout, this, &WaitingTexts::look);
    }

    void add(const QString& text, Done done) {
        m_texts.push_back({text, std::move(done)});
        if (m_texts.size() == 1) begin();
    }

private:
    struct Text {
        QString text;
        Done done;
    };

    void begin() {
        m_waited.start();
        m_upLooks = 0;
        look();
    }

    void look() {
        if (m_texts.empty()) return;
        Display* display = X11Display::get();
        const HeldKeys held = display ? heldKeys(display) : HeldKeys{};
        const bool waitOver = m_waited.elapsed() >= waitAtMostMs;
        // Keys that came up are looked at once more on a later turn of the
        // event loop: by then the releases the hotkey's grab brought this
        // program have been handled and noted.
        m_upLooks = held.any() ? 0 : m_upLooks + 1;
        if ((held.any() || m_upLooks < 2) && !waitOver) {
            m_poll.start(pollMs);
            return;
        }
        Text text = std::move(m_texts.front());
        m_texts.pop_front();
        // Past the wait, modifiers are let go around each key; another key
        // still down means the keyboard may still be grabbed, and what it
        // does to the typed text cannot be undone: nothing is typed then.
        Outcome outcome = Outcome::keysHeld;
        if (!held.others) outcome = typeWithXTest(text.text) ? Outcome::sent : Outcome::refused;
        if (!m_texts.empty()) begin();
        if (text.done) text.done(outcome);
    }

    std::deque<Text> m_texts;
    QElapsedTimer m_waited;
    int m_upLooks = 0;
    QTimer m_poll;
};

class X11Backend : public Backend {
public:
    Remote remote() const override {
        return X11Display::hasXTest() ? Remote::ready : Remote::unavailable;
    }
    void startRemote() override {}
    void type(const QString& text, Done done) override {
        if (!X11Display::hasXTest()) {
            if (done) done(Outcome::refused);
            return;
        }
        if (!m_waiting) m_waiting = new WaitingTexts(QCoreApplication::instance());
        m_waiting->add(text, std::move(done));
    }
    bool typeNow(const QString& text) override { return typeWithXTest(text); }

private:
    QPointer<WaitingTexts> m_waiting;
};

} // namespace

Backend& x11Backend() { return backendInstance<X11Backend>(); }

void watchHotKeyReleases() { swallowedReleases(); }

} // namespace SyntheticKeys
