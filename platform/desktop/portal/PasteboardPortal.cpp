// The portal backend of Pasteboard: the compositor's data control, which
// sets the selection whichever window has the keyboard.
#include "platform/desktop/Pasteboard.h"

#include "platform/desktop/portal/DataControl.h"

namespace Pasteboard {

namespace {

class PortalBackend : public Backend {
public:
    void writeConcealed(const QString& text) override {
        if (DataControl::available())
            DataControl::write(text, markers());
        else
            x11Backend().writeConcealed(text);
    }

    std::optional<QString> text() override {
        if (DataControl::available()) return DataControl::text();
        return x11Backend().text();
    }

    void clear() override {
        if (DataControl::available())
            DataControl::clear();
        else
            x11Backend().clear();
    }
};

} // namespace

Backend& portalBackend() { return backendInstance<PortalBackend>(); }

} // namespace Pasteboard
