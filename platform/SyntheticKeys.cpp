#include "platform/SyntheticKeys.h"

#include "platform/X11Display.h"

#include <QThread>

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

KeySym keysymFor(char32_t c) {
    switch (c) {
    case U'\n':
    case U'\r':
        return XK_Return;
    case U'\t':
        return XK_Tab;
    case U'\b':
        return XK_BackSpace;
    default:
        break;
    }
    // Latin-1 keysyms equal their code points; every other character has the
    // Unicode keysym range 0x01000000 + code point.
    if ((c >= 0x20 && c <= 0x7e) || (c >= 0xa0 && c <= 0xff)) return static_cast<KeySym>(c);
    return static_cast<KeySym>(0x01000000 | c);
}

// A key code with no symbols at all, borrowed to carry characters the layout
// lacks. Zero when the keyboard has none to spare.
KeyCode spareKeyCode(Display* display) {
    int minCode = 0, maxCode = 0;
    XDisplayKeycodes(display, &minCode, &maxCode);
    int perCode = 0;
    KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(minCode),
                                       maxCode - minCode + 1, &perCode);
    if (!syms) return 0;
    KeyCode spare = 0;
    for (int code = maxCode; code >= minCode && spare == 0; --code) {
        bool empty = true;
        for (int i = 0; i < perCode; ++i)
            if (syms[(code - minCode) * perCode + i] != NoSymbol) empty = false;
        if (empty) spare = static_cast<KeyCode>(code);
    }
    XFree(syms);
    return spare;
}

class Typist {
public:
    explicit Typist(Display* display) : display_(display) {
        shift_ = XKeysymToKeycode(display_, XK_Shift_L);
        XkbStateRec state{};
        if (XkbGetState(display_, XkbUseCoreKbd, &state) == Success)
            capsLock_ = (state.locked_mods & LockMask) != 0;
    }

    ~Typist() {
        if (spare_ != 0) {
            // The receiver looks the key code up when it handles the event,
            // perhaps later than the server delivered it; unbinding too early
            // would make the last borrowed character arrive as nothing.
            XSync(display_, False);
            QThread::msleep(50);
            KeySym none = NoSymbol;
            XChangeKeyboardMapping(display_, spare_, 1, &none, 1);
            XSync(display_, False);
        }
    }

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
        typeBorrowed(sym);
    }

private:
    void press(KeyCode code, bool withShift) {
        if (withShift && shift_ != 0) sendKey(display_, shift_, true);
        sendKey(display_, code, true);
        sendKey(display_, code, false);
        if (withShift && shift_ != 0) sendKey(display_, shift_, false);
    }

    void typeBorrowed(KeySym sym) {
        if (spare_ == 0) {
            spare_ = spareKeyCode(display_);
            if (spare_ == 0) return;
        } else {
            // The previous character on the borrowed key must be read by the
            // receiver before the key means something else.
            XSync(display_, False);
            QThread::msleep(50);
        }
        KeySym both[2] = {sym, sym};
        XChangeKeyboardMapping(display_, spare_, 2, both, 1);
        XSync(display_, False);
        press(spare_, false);
    }

    Display* display_;
    KeyCode shift_ = 0;
    KeyCode spare_ = 0;
    bool capsLock_ = false;
};

} // namespace

bool paste() {
    if (!X11Display::hasXTest()) return false;
    Display* display = X11Display::get();
    const KeyCode control = XKeysymToKeycode(display, XK_Control_L);
    const KeyCode v = XKeysymToKeycode(display, XK_v);
    if (control == 0 || v == 0) return false;
    releaseHeldModifiers(display);
    sendKey(display, control, true);
    sendKey(display, v, true);
    sendKey(display, v, false);
    sendKey(display, control, false);
    XSync(display, False);
    return true;
}

bool type(const QString& text) {
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

} // namespace SyntheticKeys
