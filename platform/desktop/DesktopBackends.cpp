#include "platform/desktop/DesktopBackends.h"

#include "platform/desktop/Accessibility.h"
#include "platform/desktop/GlobalHotKey.h"
#include "platform/desktop/Pasteboard.h"
#include "platform/desktop/ScreenCapture.h"
#include "platform/desktop/StatusItem.h"
#include "platform/desktop/SyntheticKeys.h"
#include "platform/desktop/WindowFocus.h"
#include "platform/desktop/x11/WindowFrameX11.h"

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
    GlobalHotKey::backend.choose(road);
    SyntheticKeys::backend.choose(road);
    WindowFocus::backend.choose(road);
    ScreenCapture::backend.choose(road);
    Pasteboard::backend.choose(road);
    StatusItem::dock.choose(road);
    Accessibility::backend.choose(road);
    // On either road: it answers only where the program runs on X11.
    ScreenFit::useWindowServer(windowServerX11());
}

} // namespace DesktopBackends
