// The X11 road of StatusItem: without a watcher the icon docks in the
// XEmbed system tray, through Qt's own tray icon.
#include "platform/desktop/StatusItem.h"

#include <QSystemTrayIcon>

namespace {

class X11Dock : public StatusItem::Dock {
public:
    bool hasTray() const override { return true; }
    bool trayAvailable() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }
};

} // namespace

StatusItem::Dock& StatusItem::x11Dock() { return backendInstance<X11Dock>(); }
