#pragma once

// Qt's own Xlib display, shared by the layers that talk to the X server
// directly, so that their requests are ordered with Qt's.
typedef struct _XDisplay Display;

namespace X11Display {

// Null when the program does not run on the xcb platform.
Display* get();

// True when the display exists and its server offers XTEST.
bool hasXTest();

} // namespace X11Display
