#pragma once

#include "platform/desktop/BackendChoice.h"

#include <QString>
#include <functional>

// Keyboard events sent to whatever window has the keyboard focus, through one
// of two backends (chosen with the others in DesktopBackends): the X server's
// XTEST extension on X11, the desktop's RemoteDesktop portal in a Wayland
// session. Callers check Accessibility::isTrusted() first.
//
// XTEST sends before the calls return; they send nothing when the program
// does not run on X11 or the server lacks XTEST. The portal's session is
// opened on the first need and kept; the desktop may ask the user first, so
// keys sent through it go out later, and only the overloads with `done` send
// there and tell whether the keys went out. A portal without RemoteDesktop,
// or a session the user refused, sends nothing.
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

void type(const QString& text, Done done);

// Why the keys of the last type() whose `done` heard false did not go out:
// the desktop refused them (or offers no way), or the keys that led here
// (a hotkey's) were still held when the wait for their release ended, and
// typing then would have sent a different text.
enum class Withheld { refused, keysHeld };
Withheld withheld();

// Types `text` one character at a time. Modifiers still held from the hotkey
// that led here (Control, Alt, Shift, Super, AltGr) are released first on
// X11: otherwise the focused program would see Control+Alt+digits. A
// character that the keyboard layout cannot produce is bound to an unused key
// code of its own, emptied again two seconds after the last use or when the
// program quits. True only when the keys went out before the call returned:
// never through the portal, which sends nothing here.
//
// There is no synthetic paste key: terminals and other programs that do not
// paste on Control+V would take it as a control character.
bool type(const QString& text);

// The keysym that types a character (Latin-1 as itself, other characters in
// the Unicode range; Return, Tab and BackSpace for their controls).
quint32 keysymFor(char32_t c);

// One way of sending keys.
class Backend {
public:
    virtual ~Backend() = default;
    virtual Remote remote() const = 0;
    virtual void startRemote() = 0;
    virtual void type(const QString& text, Done done) = 0;
    // The synchronous call: true only for keys sent before it returns.
    virtual bool typeNow(const QString& text) = 0;
    virtual Withheld withheld() const { return Withheld::refused; }
};
// XTEST (x11/SyntheticKeysX11.cpp).
Backend& x11Backend();
// The RemoteDesktop portal (portal/SyntheticKeysPortal.cpp).
Backend& portalBackend();
// The backend every call above goes to.
inline BackendChoice<Backend> backend{x11Backend, portalBackend};

} // namespace SyntheticKeys
