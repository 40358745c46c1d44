#include "platform/Sound.h"

#include "platform/X11Display.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace Sound {

bool isKnown(const QString& name) {
    return name == QLatin1String("Tink");
}

// The X server's bell, at a low volume: it needs no audio library and it is
// what the user's desktop already configures (or silences) for short alerts.
void play(const QString& name) {
    if (!isKnown(name)) return;
    Display* display = X11Display::get();
    if (!display) return;
    XkbBell(display, None, -50, None);
    XFlush(display);
}

} // namespace Sound
