#include "platform/Accessibility.h"

#include "platform/SessionType.h"
#include "platform/SyntheticKeys.h"
#include "platform/X11Display.h"

namespace Accessibility {

bool isTrusted() {
    if (viaPortal()) return SyntheticKeys::remote() != SyntheticKeys::Remote::unavailable;
    return X11Display::hasXTest();
}

bool viaPortal() { return SessionType::wayland(); }

bool isTrustedWithPrompt() {
    if (viaPortal() && SyntheticKeys::remote() != SyntheticKeys::Remote::ready)
        SyntheticKeys::startRemote();
    return isTrusted();
}

} // namespace Accessibility
