#pragma once

#include "platform/desktop/BackendChoice.h"

#include <QPoint>
#include <QRect>
#include <QtGlobal>
#include <optional>

class QWidget;

// Which window has the user's attention on the X11 desktop, and handing it
// back: what a panel that pops up over another program needs so that it can
// return the keyboard to that program afterwards. Windows are X window ids
// (a QWidget's winId()). Main thread only.
//
// Two backends (chosen with the others in DesktopBackends): the X11 one
// answers nothing / false when the program does not run on X11. In a Wayland
// session no program can see or pick another's window, also not through
// XWayland (an X client sees only X windows, and the active one there is not
// the one the user works in): the portal backend answers nothing at all, and
// the desktop alone hands the keyboard back when one of our windows goes.
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

// The kind of window for a panel that pops up over other programs (quick
// search, the tray's panel). Where the focus is ours to hand back (X11), a
// tool window that stays with the program. Elsewhere the desktop gives the
// keyboard back to the window that had it before the panel, and places the
// panel as any new window: only a window of its own gets that, not one the
// desktop takes for part of the main window (which would get the keyboard).
Qt::WindowType panelKind();

// A window that only tells the user something over the window they work in
// (the copy confirmation) and must never take the keyboard from it. On X11,
// also on XWayland, a window that bypasses the window manager is never given
// the keyboard. A Wayland compositor gives it to every new window of a Qt
// client, whatever its flags say, unless it is told the window is an
// on-screen display: KDE Plasma's shell protocol can tell KWin so.
//
// The kind of window for it: a tool tip where the window manager is bypassed;
// on Wayland a window of its own (Qt makes a tool tip a popup of the window
// of ours that has the keyboard, placed against that window).
Qt::WindowType withoutKeyboardKind();
// Whether such a window can be shown here without taking the keyboard.
bool canShowWithoutKeyboard();
// Shows the window (made with withoutKeyboardKind()) with its top left at
// `position` on the desktop, or moves it there when it is on screen; false,
// and nothing shown, where canShowWithoutKeyboard() is false.
bool showWithoutKeyboard(QWidget* window, const QPoint& position);

// One way of knowing and handing over the focus.
class Backend {
public:
    virtual ~Backend() = default;
    virtual bool canTellWindows() const = 0;
    virtual bool hasWindowManager() const = 0;
    virtual std::optional<quint32> activeWindow() const = 0;
    virtual bool exists(quint32 window) const = 0;
    virtual std::optional<QRect> geometry(quint32 window) const = 0;
    virtual bool activate(quint32 window) = 0;
    virtual bool hasInputFocus(quint32 window) const = 0;
};
// x11/WindowFocusX11.cpp
Backend& x11Backend();
// portal/WindowFocusPortal.cpp
Backend& portalBackend();
// The backend the calls above go to.
inline BackendChoice<Backend> backend{x11Backend, portalBackend};

// portal/WindowFocusPortal.cpp: the on-screen displays of KDE Plasma's shell
// protocol, for Qt on Wayland.
bool hasOnScreenDisplays();
bool showAsOnScreenDisplay(QWidget* window, const QPoint& position);
// Keeps a window that is on screen out of KDE Plasma's taskbar and window
// switcher (Alt+Tab), for Qt on Wayland; the window still takes the keyboard
// as any new window does. The flags go with the surface Qt gives a window
// when it is shown, a new one at every show: for a window shown once (quick
// search builds its panel anew at every opening), called once after its
// show(), before the event loop runs (KWin lists a window once it first
// draws). False where the compositor offers no Plasma shell, or not on
// Wayland.
bool keepOutOfTaskSwitching(QWidget* window);

} // namespace WindowFocus
