#pragma once

// The backends of the desktop layers, chosen together in one place:
// GlobalHotKey, SyntheticKeys, Accessibility, WindowFocus, ScreenCapture,
// Pasteboard and StatusItem (where its icon docks) each have an X11 backend
// in x11/ (what the X server lets every client do) and a portal backend in
// portal/ (the desktop portals, and the compositor's own protocols: data
// control for the clipboard, KDE Plasma's shell for windows that must not
// take the keyboard). Until install() runs, every layer uses its X11 backend.
namespace DesktopBackends {

enum class Road { x11, portals };

// The road of this desktop session: the portals in a Wayland session
// (XDG_SESSION_TYPE is "wayland", or WAYLAND_DISPLAY is set), whatever
// platform Qt runs on: on XWayland an X11 grab or XTEST reaches only X11
// windows, the X11 active window is not the one the user works in, and Qt's
// clipboard reaches only the focused client. X11 everywhere else.
Road forSession();

// Puts every layer on `road`, and lets ScreenFit ask the X server where
// windows are. The program calls it once at start-up, before any layer is
// used.
void install(Road road);

} // namespace DesktopBackends
