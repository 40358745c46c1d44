#include "platform/desktop/x11/X11Display.h"

#include <QGuiApplication>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace X11Display {

Display* get() {
    if (!qGuiApp) return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

bool hasXTest() {
    Display* display = get();
    if (!display) return false;
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    return XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor) == True;
}

} // namespace X11Display
