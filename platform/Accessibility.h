#pragma once

// Whether the program may send synthetic keystrokes. On X11 no user permission
// exists: any client may use the XTEST extension when the server offers it. In
// a Wayland session the desktop's RemoteDesktop portal grants it, after
// asking the user.
namespace Accessibility {

// X11: the program runs on X11 and the server offers XTEST. Wayland: the
// portal's session is open, or may still be (not refused, portal present).
bool isTrusted();

// Whether keystrokes go through the desktop's RemoteDesktop portal (a
// Wayland session) rather than XTEST; the texts that name what is missing
// follow it.
bool viaPortal();

// The same answer. On X11 there is no permission prompt to show; in a
// Wayland session this opens the portal's session (the desktop may ask the
// user) when none is open, also after a refusal.
bool isTrustedWithPrompt();

} // namespace Accessibility
