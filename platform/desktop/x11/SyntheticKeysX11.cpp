// The X11 backend of SyntheticKeys: keys sent through the X server's XTEST
// extension to whatever window has the keyboard focus.
#include "platform/desktop/SyntheticKeys.h"

#include "platform/desktop/x11/X11Display.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <vector>

namespace SyntheticKeys {
namespace {

void sendKey(Display* display, KeyCode code, bool down) {
    XTestFakeKeyEvent(display, code, down ? True : False, CurrentTime);
}

bool isHeld(const char keys[32], KeyCode code) {
    return (keys[code / 8] & (1 << (code % 8))) != 0;
}

// Releases every held key that acts as a modifier, except Caps Lock and Num
// Lock: those are toggles whose key is never "held" in a way that changes a
// shortcut, and releasing them would confuse the server's lock state.
void releaseHeldModifiers(Display* display) {
    char keys[32] = {};
    XQueryKeymap(display, keys);
    XModifierKeymap* map = XGetModifierMapping(display);
    if (!map) return;
    const KeyCode numLock = XKeysymToKeycode(display, XK_Num_Lock);
    for (int modifier = 0; modifier < 8; ++modifier) {
        if (modifier == LockMapIndex) continue;
        for (int i = 0; i < map->max_keypermod; ++i) {
            const KeyCode code = map->modifiermap[modifier * map->max_keypermod + i];
            if (code != 0 && code != numLock && isHeld(keys, code)) sendKey(display, code, false);
        }
    }
    XFreeModifiermap(map);
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

    // Empties every lent key code again.
    void giveBack() {
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

class Typist {
public:
    explicit Typist(Display* display) : display_(display), borrowed_(borrowedKeys(display)) {
        shift_ = XKeysymToKeycode(display_, XK_Shift_L);
        XkbStateRec state{};
        if (XkbGetState(display_, XkbUseCoreKbd, &state) == Success)
            capsLock_ = (state.locked_mods & LockMask) != 0;
    }

    ~Typist() { borrowed_.giveBackLater(); }

    void type(char32_t c) {
        const KeySym sym = keysymFor(c);
        const KeyCode code = XKeysymToKeycode(display_, sym);
        if (code != 0) {
            const KeySym plain = XkbKeycodeToKeysym(display_, code, 0, 0);
            const KeySym shifted = XkbKeycodeToKeysym(display_, code, 0, 1);
            if (plain == sym || shifted == sym) {
                bool needShift = plain != sym;
                // Caps Lock turns the unshifted level of a letter key into its
                // capital, so a letter needs the opposite Shift then.
                KeySym lower = 0, upper = 0;
                XConvertCase(sym, &lower, &upper);
                if (capsLock_ && lower != upper) needShift = !needShift;
                press(code, needShift);
                return;
            }
        }
        if (const KeyCode lent = borrowed_.lend(sym)) press(lent, false);
    }

private:
    void press(KeyCode code, bool withShift) {
        if (withShift && shift_ != 0) sendKey(display_, shift_, true);
        sendKey(display_, code, true);
        sendKey(display_, code, false);
        if (withShift && shift_ != 0) sendKey(display_, shift_, false);
    }

    Display* display_;
    BorrowedKeys& borrowed_;
    KeyCode shift_ = 0;
    bool capsLock_ = false;
};

bool typeWithXTest(const QString& text) {
    if (!X11Display::hasXTest()) return false;
    Display* display = X11Display::get();
    releaseHeldModifiers(display);
    {
        Typist typist(display);
        for (const char32_t c : text.toUcs4())
            typist.type(c);
    }
    XSync(display, False);
    return true;
}

class X11Backend : public Backend {
public:
    Remote remote() const override {
        return X11Display::hasXTest() ? Remote::ready : Remote::unavailable;
    }
    void startRemote() override {}
    void type(const QString& text, Done done) override {
        const bool sent = typeWithXTest(text);
        if (done) done(sent);
    }
    bool typeNow(const QString& text) override { return typeWithXTest(text); }
};

} // namespace

Backend& x11Backend() { return backendInstance<X11Backend>(); }

} // namespace SyntheticKeys
