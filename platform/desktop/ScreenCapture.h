#pragma once

#include "platform/desktop/BackendChoice.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QVariantMap>
#include <functional>

// Pictures of every display, for finding QR codes on screen.
namespace ScreenCapture {

// Every display is captured at this many pixels per logical pixel, whatever
// its own scale, so that small codes still have a few pixels per module.
constexpr int scaleFactor = 2;

// How long hidden windows are given to leave the screen (and the windows
// beneath them to repaint) before the capture.
constexpr int settleMs = 150;

// `done` gets one image per display that could be captured (none at all where
// the session allows no capture); it runs on the GUI thread, and not at all
// when `context` (required) is destroyed first. Must be called on the GUI
// thread. Two backends (chosen with the others in DesktopBackends):
// - X11: captures the displays one after another, in the order of the
//   screens, with this application's own visible windows and sheets hidden
//   for the moment of the capture and shown again afterwards; `done` runs
//   once the event loop has let the windows go.
// - Portal (a Wayland session, where a program's own capture is all black):
//   the desktop's Screenshot portal takes one picture of all displays
//   (without asking where it can; nothing is hidden for it), and its file is
//   deleted as soon as it is read.
void captureDisplays(QObject* context, std::function<void(QList<QImage>)> done);

class Backend {
public:
    virtual ~Backend() = default;
    virtual void captureDisplays(QObject* context, std::function<void(QList<QImage>)> done) = 0;
};
// x11/ScreenCaptureX11.cpp
Backend& x11Backend();
// portal/ScreenCapturePortal.cpp
Backend& portalBackend();
// The backend captureDisplays() goes to.
inline BackendChoice<Backend> backend{x11Backend, portalBackend};

// The capture itself, without hiding anything or waiting: one image per
// screen that gave one (X11, x11/ScreenCaptureX11.cpp).
QList<QImage> grabScreens();

// The picture a Screenshot portal's answer names (a file:// uri), at the
// capture's scale; the file is deleted. Null when there is none
// (portal/ScreenCapturePortal.cpp).
QImage readPortalPicture(const QVariantMap& results);

} // namespace ScreenCapture
