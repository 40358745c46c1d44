// The X11 backend of Accessibility: keys may be sent exactly when the X
// server offers XTEST; there is no permission to ask for.
#include "platform/desktop/Accessibility.h"

#include "platform/desktop/x11/X11Display.h"

namespace Accessibility {
namespace {

class X11Backend : public Backend {
public:
    bool isTrusted() const override { return X11Display::hasXTest(); }
    bool userGrants() const override { return false; }
    bool isTrustedWithPrompt() override { return isTrusted(); }
};

} // namespace

Backend& x11Backend() { return backendInstance<X11Backend>(); }

} // namespace Accessibility
