#include "platform/Accessibility.h"

#include "platform/X11Display.h"

namespace Accessibility {

bool isTrusted() {
    return X11Display::hasXTest();
}

bool isTrustedWithPrompt() {
    return isTrusted();
}

} // namespace Accessibility
