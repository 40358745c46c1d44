// The portals' road of StatusItem: a Wayland session offers no XEmbed tray,
// not even to XWayland clients, so the icon is a status-notifier item or
// nothing until a watcher comes.
#include "platform/desktop/StatusItem.h"

namespace {

class PortalDock : public StatusItem::Dock {
public:
    bool hasTray() const override { return false; }
    bool trayAvailable() const override { return false; }
};

} // namespace

StatusItem::Dock& StatusItem::portalDock() { return backendInstance<PortalDock>(); }
