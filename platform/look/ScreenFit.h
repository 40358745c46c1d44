#pragma once

// Keeps a window wholly on its screen's available area (the screen less the
// desktop's panels): never larger than that area, nor partly off it. Text
// enlarged by the desktop (a larger font resolution) and display scaling
// both shrink the area a window's sizes have, so a size chosen in advance
// may not fit; what does not fit is made smaller, and what it holds scrolls.
#include <QMargins>
#include <QPoint>
#include <QRect>

#include <optional>

class QWidget;

namespace ScreenFit {

// Where a window of frame `outer` (its frame around `frame` margins) goes so
// that it lies inside `area`: no larger, and moved no further than it must.
QRect fitted(const QRect& outer, const QRect& area);

// Makes `window` fit its screen's available area now: a fixed size is fixed
// smaller, a minimum size is lowered, and the window moved inside. Before the
// window manager has framed the window, room is kept for a frame like the
// one it gives other windows of the program.
void fit(QWidget* window);

// The margins of the frame the window manager draws around `window` (as
// the X server has them there), or, before it is framed, those of another
// framed window of the program; none for windows left without a frame.
QMargins frame(const QWidget* window);

// Fits a window of the program as it is shown, and again once the window
// manager has framed and placed it (AppGuards calls it for every window).
void shown(QWidget* window);

// True from the show of a window of the program until the window manager
// has framed and placed it, and it has stayed on the screen a moment.
bool placing(const QWidget* window);

// What the window system itself says of a window, where the desktop layer
// can ask it (the X server); Qt's own account of its windows can be stale.
struct WindowServer {
    // The margins of the frame the window manager drew, none before it did.
    std::optional<QMargins> (*frame)(const QWidget* window) = nullptr;
    // The window's own area (without the frame), in the program's pixels.
    std::optional<QRect> (*place)(const QWidget* window) = nullptr;
    // Asks for the window's own area to start at `topLeft`.
    void (*moveTo)(QWidget* window, QPoint topLeft) = nullptr;
};
// The desktop layer hands it over at start-up (DesktopBackends::install).
void useWindowServer(const WindowServer& server);

} // namespace ScreenFit
