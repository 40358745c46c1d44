#pragma once

namespace SessionType {

// Whether the desktop session is a Wayland one (XDG_SESSION_TYPE is
// "wayland", or WAYLAND_DISPLAY is set). It decides the backend of every
// desktop layer, whatever platform Qt runs on: on XWayland an X11 grab or
// XTEST reaches only X11 windows, and Qt's clipboard only the focused client.
bool wayland();

} // namespace SessionType
