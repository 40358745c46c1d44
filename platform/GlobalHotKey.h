#pragma once

#include <QObject>
#include <optional>

// System-wide key combinations on X11: each combination is grabbed on the
// root window so its presses reach this program whichever window has focus.
// Combinations arrive as the stored values earlier versions wrote (macOS
// virtual key codes, Carbon modifier masks) and are translated here only:
// Command -> Control, Option -> Alt, Shift -> Shift, Control -> Super.
namespace GlobalHotKey {

// Emits pressed(id) once per physical press of a registered combination, on
// the main thread; auto-repeat while the key is held does not fire again.
class Dispatcher : public QObject {
    Q_OBJECT

signals:
    void pressed(quint32 id);
};

Dispatcher& dispatcher();

enum Status : int {
    ok = 0,
    notX11 = -1,         // not running on an X server (offscreen, Wayland)
    unknownKey = -2,     // no X key for this key code on this keyboard
    alreadyGrabbed = -3, // another program holds the combination
    grabFailed = -4,     // any other X error
};

// Replaces an earlier registration under the same id. Returns ok or a
// negative Status.
int registerHotKey(quint32 macKeyCode, quint32 carbonModifiers, quint32 id);
// Nothing happens for an id that is not registered.
void unregisterHotKey(quint32 id);

// The X keysym for a macOS virtual key code, 0 when the key has none here.
quint32 keysymForKeyCode(quint32 macKeyCode);

// The macOS virtual key code of an X key (a QKeyEvent's nativeScanCode() on
// X11), found by the key's unshifted symbol so that Shift+1 is still the key
// "1"; nothing without X or for a key the table does not know.
std::optional<quint32> keyCodeForNativeScanCode(quint32 nativeScanCode);

// While the user records a combination, every key must reach the recorder:
// suspended, presses of registered combinations fire nothing and go on to
// the focused widget like any other key. The X grabs stay in place (a
// keyboard grab of the recorder outranks them). Calls nest.
void suspend();
void resume();
bool isSuspended();

} // namespace GlobalHotKey
