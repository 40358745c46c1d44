#pragma once

#include "platform/desktop/BackendChoice.h"

// Whether the program may send synthetic keystrokes, as SyntheticKeys can,
// through one of two backends (chosen with the others in DesktopBackends). On
// X11 no user permission exists: any client may use the XTEST extension when
// the server offers it. In a Wayland session the desktop's RemoteDesktop
// portal grants it, after asking the user.
namespace Accessibility {

// X11: the program runs on X11 and the server offers XTEST. Portal: the
// session is open, or may still be (not refused, portal present).
bool isTrusted();

// Whether the permission is the user's to give (the desktop asks: remote
// control) rather than the display's (XTEST); the texts that name what is
// missing follow it.
bool userGrants();

// The same answer as isTrusted(). On X11 there is no permission prompt to
// show; through the portal this opens its session (the desktop may ask the
// user) when none is open, also after a refusal.
bool isTrustedWithPrompt();

class Backend {
public:
    virtual ~Backend() = default;
    virtual bool isTrusted() const = 0;
    virtual bool userGrants() const = 0;
    virtual bool isTrustedWithPrompt() = 0;
};
// XTEST (x11/AccessibilityX11.cpp).
Backend& x11Backend();
// The RemoteDesktop portal's session (portal/AccessibilityPortal.cpp).
Backend& portalBackend();
// The backend the calls above go to.
inline BackendChoice<Backend> backend{x11Backend, portalBackend};

} // namespace Accessibility
