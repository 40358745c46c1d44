#pragma once

class QWidget;

// Whether a top-level window has an entry in the desktop's taskbar (the
// EWMH skip-taskbar state). A window on screen asks the window manager; one
// not yet mapped carries the state into its mapping. Does nothing where the
// program does not run on X11.
namespace TaskbarPresence {

void setShown(QWidget* window, bool shown);

} // namespace TaskbarPresence
