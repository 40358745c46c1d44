#include "platform/Accessibility.h"

#include "platform/BackendChoice.h"
#include "platform/SyntheticKeys.h"
#include "platform/X11Display.h"

namespace Accessibility {
namespace {

class X11Backend : public Backend {
public:
    bool isTrusted() const override { return X11Display::hasXTest(); }
    bool userGrants() const override { return false; }
    void prompt() override {}
};

// The permission is the remote-control session's.
class PortalBackend : public Backend {
public:
    bool isTrusted() const override {
        return SyntheticKeys::remote() != SyntheticKeys::Remote::unavailable;
    }
    bool userGrants() const override { return true; }
    void prompt() override {
        if (SyntheticKeys::remote() != SyntheticKeys::Remote::ready) SyntheticKeys::startRemote();
    }
};

} // namespace

Backend& x11Backend() { return backendInstance<X11Backend>(); }

Backend& portalBackend() { return backendInstance<PortalBackend>(); }

namespace {
Backend& backend() { return BackendChoice<Backend, x11Backend>::current(); }
} // namespace

void setBackend(Backend& backend) { BackendChoice<Backend, x11Backend>::choose(backend); }

bool isTrusted() { return backend().isTrusted(); }

bool userGrants() { return backend().userGrants(); }

bool isTrustedWithPrompt() {
    backend().prompt();
    return isTrusted();
}

} // namespace Accessibility
