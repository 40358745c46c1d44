// The portal backend of Accessibility: the permission is the RemoteDesktop
// portal's session, which the desktop grants after asking the user.
#include "platform/desktop/Accessibility.h"

#include "platform/desktop/SyntheticKeys.h"

namespace Accessibility {
namespace {

class PortalBackend : public Backend {
public:
    // The session is open, or may still be (not refused, portal present).
    bool isTrusted() const override {
        return SyntheticKeys::portalBackend().remote() != SyntheticKeys::Remote::unavailable;
    }
    bool userGrants() const override { return true; }
    // Opens the session (the desktop may ask the user) when none is open or
    // opening, also after a refusal.
    bool isTrustedWithPrompt() override {
        SyntheticKeys::portalBackend().startRemote();
        return isTrusted();
    }
};

} // namespace

Backend& portalBackend() { return backendInstance<PortalBackend>(); }

} // namespace Accessibility
