#include "platform/desktop/Accessibility.h"

#include "platform/desktop/SyntheticKeys.h"

namespace Accessibility {

// On X11 the keyboard is `ready` exactly when the server offers XTEST.
bool isTrusted() { return SyntheticKeys::remote() != SyntheticKeys::Remote::unavailable; }

// The permission is the remote-control session's.
bool userGrants() { return SyntheticKeys::backend.road() == DesktopBackends::Road::portals; }

bool isTrustedWithPrompt() {
    // Nothing on X11, nor while a session is open or opening.
    SyntheticKeys::startRemote();
    return isTrusted();
}

} // namespace Accessibility
