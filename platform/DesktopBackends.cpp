#include "platform/DesktopBackends.h"

#include "platform/Accessibility.h"
#include "platform/GlobalHotKey.h"
#include "platform/Pasteboard.h"
#include "platform/ScreenCapture.h"
#include "platform/StatusItem.h"
#include "platform/SyntheticKeys.h"
#include "platform/WindowFocus.h"

#include <QString>
#include <QtGlobal>

namespace DesktopBackends {

Road forSession() {
    const bool wayland = qEnvironmentVariable("XDG_SESSION_TYPE")
                                 .compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0 ||
                         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    return wayland ? Road::portals : Road::x11;
}

void install(Road road) {
    const bool portals = road == Road::portals;
    GlobalHotKey::setBackend(portals ? GlobalHotKey::portalBackend() : GlobalHotKey::x11Backend());
    SyntheticKeys::setBackend(portals ? SyntheticKeys::portalBackend()
                                      : SyntheticKeys::x11Backend());
    Accessibility::setBackend(portals ? Accessibility::portalBackend()
                                      : Accessibility::x11Backend());
    WindowFocus::setBackend(portals ? WindowFocus::portalBackend() : WindowFocus::x11Backend());
    ScreenCapture::setBackend(portals ? ScreenCapture::portalBackend()
                                      : ScreenCapture::x11Backend());
    Pasteboard::setBackend(portals ? Pasteboard::portalBackend() : Pasteboard::x11Backend());
    StatusItem::setHosts(portals ? StatusItem::Hosts::notifierItemOnly
                                 : StatusItem::Hosts::notifierItemOrTray);
}

} // namespace DesktopBackends
