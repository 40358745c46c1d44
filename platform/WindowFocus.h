#pragma once

#include <QRect>
#include <QtGlobal>
#include <optional>

// Which window has the user's attention on the X11 desktop, and handing it
// back: what a panel that pops up over another program needs so that it can
// return the keyboard to that program afterwards. Windows are X window ids
// (a QWidget's winId()). Every call answers nothing / false when the program
// does not run on X11. Main thread only.
//
// In a Wayland session no program can see or pick another's window, also not
// through XWayland (an X client sees only X windows): there activeWindow()
// names none, and the other calls reach only the program's own X windows.
namespace WindowFocus {

// Whether the active window of any program can be known and handed the
// keyboard (X11 sessions).
bool canTellWindows();

// Whether a window manager that names the active window runs (it announces
// _NET_ACTIVE_WINDOW in _NET_SUPPORTED and its check window exists).
bool hasWindowManager();

// The window the user works in now: the window manager's active window
// (_NET_ACTIVE_WINDOW) where a window manager runs, else the X input focus.
// Nothing when no window is active (or the focus follows the pointer).
std::optional<quint32> activeWindow();

// Whether the window still exists and can take the focus: on screen, or
// minimised by the window manager (activating it brings it back).
bool exists(quint32 window);

// Where the window is on the desktop, in the X server's pixels (root
// coordinates); nothing when it is gone.
std::optional<QRect> geometry(quint32 window);

// Asks for the keyboard focus to go to the window and brings it to the
// front: through the window manager (an _NET_ACTIVE_WINDOW request, sent as
// on the user's behalf) when one runs, else by setting the input focus
// directly. The answer is asynchronous; hasInputFocus() tells when it came.
// False when the request could not be made.
bool activate(quint32 window);

// Whether the X input focus is in the window (on it or a window inside it).
bool hasInputFocus(quint32 window);

} // namespace WindowFocus
