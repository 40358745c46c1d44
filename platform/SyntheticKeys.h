#pragma once

#include <QString>
#include <functional>

// Keyboard events sent to whatever window has the keyboard focus: through the
// X server's XTEST extension on X11, through the desktop's RemoteDesktop
// portal in a Wayland session (see SessionType::wayland). On X11 both calls
// finish sending before they return and return false, sending nothing, when
// the program does not run on X11 or the server lacks XTEST. Callers check
// Accessibility::isTrusted() first.
//
// The portal's session is opened on the first need and kept; the desktop may
// ask the user first, so keys sent through it go out later, and the overloads
// with `done` tell whether they did (on X11 before they return). A portal
// without RemoteDesktop, or a session the user refused, sends nothing.
namespace SyntheticKeys {

using Done = std::function<void(bool sent)>;

// Where the portal's keyboard stands (always `ready` on X11 with XTEST).
enum class Remote {
    notAsked,    // no session yet; the next keys open one
    starting,    // waiting for the desktop (and the user)
    ready,       // keys go out at once
    unavailable, // no RemoteDesktop portal, or the session was refused
};
Remote remote();
// Opens the portal's session now when none is open or opening (Wayland).
void startRemote();

// The item under which the session's restore token is kept in the keychain:
// it lets the desktop skip its question next time, which grants typing into
// any window, so it is kept like a secret.
inline const QString restoreTokenService = QStringLiteral("com.tarnwick.Quillet.RemoteDesktop");
inline const QString restoreTokenAccount = QStringLiteral("restore-token");

void paste(Done done);
void type(const QString& text, Done done);

// Control+V, the paste shortcut of X11 programs. Modifiers still held from the
// hotkey that led here (Control, Alt, Shift, Super, AltGr) are released first
// on X11: otherwise the focused program would see Control+Alt+V and not paste.
// In a Wayland session: false when the portal cannot send keys.
bool paste();

// Types `text` one character at a time. A character that the keyboard layout
// cannot produce is bound to an unused key code of its own, emptied again two
// seconds after the last use or when the program quits.
bool type(const QString& text);

} // namespace SyntheticKeys
