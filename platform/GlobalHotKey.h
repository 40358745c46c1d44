#pragma once

#include <QObject>
#include <QString>
#include <optional>

// System-wide key combinations. On X11 each combination is grabbed on the
// root window so its presses reach this program whichever window has focus.
// In a Wayland session (see SessionType::wayland) no program can grab keys:
// the combinations go to the desktop's GlobalShortcuts portal as one list,
// and the desktop decides which keys, if any, trigger each of them.
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
    // The desktop answered a registration handed to it (Wayland): see
    // desktopState().
    void desktopAnswered();
};

Dispatcher& dispatcher();

enum Status : int {
    ok = 0,
    notX11 = -1,         // not running on an X server (offscreen, Wayland)
    unknownKey = -2,     // no X key for this key code on this keyboard
    alreadyGrabbed = -3, // another program holds the combination
    grabFailed = -4,     // any other X error
    pending = 1,         // handed to the desktop, which answers later
};

// Replaces an earlier registration under the same id. Returns ok, pending or
// a negative Status. `name` and `description` are what the desktop's
// shortcut settings show for it (Wayland): a stable identifier and words for
// people.
int registerHotKey(quint32 macKeyCode, quint32 carbonModifiers, quint32 id,
                   const QString& name = {}, const QString& description = {});
// Nothing happens for an id that is not registered.
void unregisterHotKey(quint32 id);

// The X keysym for a macOS virtual key code, 0 when the key has none here.
quint32 keysymForKeyCode(quint32 macKeyCode);

// Whether combinations go to the desktop's portal rather than to X.
bool usesPortal();

// What the desktop made of a combination handed to it. On X11 a registered
// combination is active as soon as registerHotKey() returns ok.
struct DesktopState {
    enum class Kind { waiting, active, inactive } kind = Kind::waiting;
    // The desktop's own words for the keys that trigger it ("Ctrl+Alt+K"),
    // which may differ from the combination asked for.
    QString trigger;
    // Why it is not active, for people.
    QString reason;
};
DesktopState desktopState(quint32 id);

// Whether the desktop's portal has no GlobalShortcuts at all (GNOME before
// 48, wlroots desktops); known once the first registration was answered.
bool portalLacksShortcuts();

// The combination as the shortcuts portal writes a preferred trigger:
// "CTRL+ALT+k" (Command as CTRL, Option as ALT, Control as LOGO, the key by
// its X keysym name); empty for a key without one.
QString portalTrigger(quint32 macKeyCode, quint32 carbonModifiers);

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
