#pragma once

#include "platform/desktop/BackendChoice.h"

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

// System-wide key combinations, through one of two backends (chosen with the
// others in DesktopBackends): on X11 each combination is grabbed on the root
// window so its presses reach this program whichever window has focus; in a
// Wayland session no program can grab keys, so the combinations go to the
// desktop's GlobalShortcuts portal as one list, and the desktop decides which
// keys, if any, trigger each of them.
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
    // The desktop answered whether its shortcuts step aside during a
    // suspension: see suspendedKeys().
    void suspensionAnswered();
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

// What the desktop made of a combination handed to it. On X11 a registered
// combination is active as soon as registerHotKey() returns ok.
struct DesktopState {
    // unconfirmed: the desktop took it and named keys, but its own record of
    // the keys it holds could not be read, and its answer alone is known to
    // repeat the keys asked for even where it gave none (KDE).
    enum class Kind { waiting, active, inactive, unconfirmed } kind = Kind::waiting;
    // The desktop's own words for the keys that trigger it ("Ctrl+Alt+K"),
    // which may differ from the combination asked for.
    QString trigger;
    // Why it is not active, for people.
    QString reason;

    friend bool operator==(const DesktopState&, const DesktopState&) = default;
};

// Whether the keys of the shortcuts that fired are let go: up; still held
// when the wait ended; or not known, the desktop telling no releases.
enum class Release { up, held, unreported };

// One way of registering combinations with the desktop.
class Backend {
public:
    virtual ~Backend() = default;
    virtual int registerHotKey(quint32 macKeyCode, quint32 carbonModifiers, quint32 id,
                               const QString& description) = 0;
    virtual void unregisterHotKey(quint32 id) = 0;
    virtual DesktopState state(quint32 id) const = 0;
    virtual bool desktopDecides() const = 0;
    virtual bool lacksShortcuts() const = 0;
    // A suspension began or ended.
    virtual void suspensionChanged() {}
    // Whether a keyboard grab of the recorder alone brings it every key,
    // also the combinations this program and the desktop registered.
    virtual bool grabTakesEveryKey() const = 0;
    // See afterRelease() below.
    virtual void afterRelease(int boundMs, QObject* context, std::function<void(Release)> then);
};
// Grabs on the X server; presses seen in Qt's X event stream
// (x11/GlobalHotKeyX11.cpp).
Backend& x11Backend();
// The desktop's GlobalShortcuts portal (portal/GlobalHotKeyPortal.cpp).
Backend& portalBackend();
// The backend every call below goes to.
inline BackendChoice<Backend> backend{x11Backend, portalBackend};

// Replaces an earlier registration under the same id. Returns ok, pending or
// a negative Status. `description` is what the desktop's shortcut settings
// show for it where the desktop keeps the list: words for people.
int registerHotKey(quint32 macKeyCode, quint32 carbonModifiers, quint32 id,
                   const QString& description = {});
// Nothing happens for an id that is not registered.
void unregisterHotKey(quint32 id);

// The Carbon modifier bits of the stored combinations.
inline constexpr quint32 carbonCommand = 0x100;
inline constexpr quint32 carbonShift = 0x200;
inline constexpr quint32 carbonOption = 0x800;
inline constexpr quint32 carbonControl = 0x1000;

// The X keysym for a macOS virtual key code, 0 when the key has none here.
quint32 keysymForKeyCode(quint32 macKeyCode);
// The macOS virtual key code of the key with an X keysym; nothing for a key
// the table does not know.
std::optional<quint32> keyCodeForKeysym(quint32 keysym);

// Whether the desktop decides which keys trigger a combination and answers
// after registerHotKey() returned (pending): the desktop keeps a list with
// each combination's description, and may choose other keys or none.
bool desktopDecides();

DesktopState desktopState(quint32 id);

// Calls `then` once the keys of every shortcut the desktop reported pressed
// are let go, at once when none is down, else at the latest after `boundMs`
// (not when `context` is gone first). Only a desktop that decides the keys
// tells of releases (the portal's Deactivated, which KDE sends when the
// combination's last key goes up, while its modifiers may still be down);
// on X11 the answer is `unreported` at once.
void afterRelease(int boundMs, QObject* context, std::function<void(Release)> then);

// Whether the desktop offers programs no global hotkeys at all: a portal
// without GlobalShortcuts (GNOME before 48, wlroots desktops), or one that
// names it but cannot open a session for it (KDE's portal backend on a
// desktop other than Plasma); known once the first registration was
// answered.
bool lacksShortcuts();

// The combination as the shortcuts portal writes a preferred trigger:
// "CTRL+ALT+k" (Command as CTRL, Option as ALT, Control as LOGO, the key by
// its X keysym name); empty for a key without one.
QString portalTrigger(quint32 macKeyCode, quint32 carbonModifiers);

// The macOS virtual key code of an X key (a QKeyEvent's nativeScanCode() on
// X11), found by the key's unshifted symbol so that Shift+1 is still the key
// "1"; nothing without X or for a key the table does not know.
std::optional<quint32> keyCodeForNativeScanCode(quint32 nativeScanCode);

// While the user records a combination, every key must reach the recorder.
// A Suspension, for as long as it lives: presses of registered combinations
// fire nothing and go on to the focused widget like any other key, and the
// desktop's own global shortcuts (its Show Desktop, the combinations it
// holds for this program) step aside where the desktop lets a program ask
// for that: KDE's shortcut daemon, as KDE's own shortcut recorders ask it.
// They come back when the last Suspension ends, whatever ends it, and at the
// latest when the program quits. A program that crashes or is killed
// meanwhile leaves KDE's shortcuts set aside until something asks for them
// back, as the daemon keeps no owner for the request: the note below lets
// the next start do that. Suspensions nest. On X11
// the grabs stay in place: a keyboard grab of the recorder outranks them and
// every other program's.
class Suspension {
public:
    Suspension();
    ~Suspension();
    Suspension(const Suspension&) = delete;
    Suspension& operator=(const Suspension&) = delete;
};
bool isSuspended();

// The file in which the program notes that it has set the desktop's
// shortcuts aside: written before it asks, removed once they are back. Set
// once at start; a note found then was left by a run that was killed or
// crashed meanwhile, and the shortcuts are asked back at once.
void keepSetAsideNote(const QString& path);

// Whether every key reaches the program while suspended: asking until the
// desktop answered (Dispatcher::suspensionAnswered), then reach, or
// desktopKeepsSome where the desktop holds combinations for itself and
// offers no way to set them aside (Wayland desktops without KDE's daemon).
// Nothing is known outside a suspension (asking).
enum class SuspendedKeys { asking, reach, desktopKeepsSome };
SuspendedKeys suspendedKeys();

// The desktop's name for the key Qt calls Meta (Super, the Windows key):
// "Meta" on KDE Plasma, whose shortcut settings and shortcut daemon say so,
// "Super" elsewhere.
QString metaKeyName();

} // namespace GlobalHotKey
