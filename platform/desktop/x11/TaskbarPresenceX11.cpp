#include "platform/desktop/TaskbarPresence.h"

#include "platform/desktop/x11/X11Display.h"

#include <QWidget>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <vector>

namespace TaskbarPresence {

void setShown(QWidget* window, bool shown) {
    Display* display = X11Display::get();
    if (!display || !window || !window->isWindow())
        return;
    const Window id = Window(window->winId());
    const Atom state = XInternAtom(display, "_NET_WM_STATE", False);
    const Atom skip = XInternAtom(display, "_NET_WM_STATE_SKIP_TASKBAR", False);

    XWindowAttributes attributes;
    const bool mapped = XGetWindowAttributes(display, id, &attributes) != 0 &&
                        attributes.map_state != IsUnmapped;
    if (mapped) {
        // The window manager owns the state of a mapped window: ask it.
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = id;
        event.xclient.message_type = state;
        event.xclient.format = 32;
        event.xclient.data.l[0] = shown ? 0 : 1; // _NET_WM_STATE_REMOVE / _ADD
        event.xclient.data.l[1] = long(skip);
        event.xclient.data.l[3] = 1; // from a normal application
        XSendEvent(display, DefaultRootWindow(display), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &event);
    } else {
        // Before mapping the property is the client's; Qt merges it with its
        // own states when it maps the window.
        std::vector<Atom> atoms;
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, id, state, 0, 1024, False, XA_ATOM, &type, &format, &count,
                               &after, &data) == Success &&
            type == XA_ATOM && format == 32 && data) {
            const auto* list = reinterpret_cast<const Atom*>(data);
            for (unsigned long i = 0; i < count; ++i)
                if (list[i] != skip)
                    atoms.push_back(list[i]);
        }
        if (data)
            XFree(data);
        if (!shown)
            atoms.push_back(skip);
        XChangeProperty(display, id, state, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(atoms.data()), int(atoms.size()));
    }
    XFlush(display);
}

} // namespace TaskbarPresence
