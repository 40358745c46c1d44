#pragma once

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

// The keyboard as the server has it at this moment: its key map, the group
// (layout) in use and the locked and latched modifiers, read straight from
// the server. Xlib's own copy of the key map is brought up to date only by
// events that Qt, which reads the connection, takes first, so after a
// layout change it still describes the layout the program started with.
class XkbKeymap {
public:
    explicit XkbKeymap(Display* display);
    ~XkbKeymap();
    XkbKeymap(const XkbKeymap&) = delete;
    XkbKeymap& operator=(const XkbKeymap&) = delete;

    // False when the server gave no map: then no key bears anything.
    bool valid() const { return m_desc && m_desc->map; }
    XkbDescPtr desc() const { return m_desc; }
    int group() const { return m_group; }
    unsigned lockedModifiers() const { return m_locked; }

    // The group `key` takes its symbols from while `group` is in force: a
    // key with fewer groups wraps, clamps or redirects it, as the key says.
    // -1 for a key that bears nothing.
    int groupOf(KeyCode key, int group) const;
    int groupOf(KeyCode key) const { return groupOf(key, m_group); }

private:
    XkbDescPtr m_desc;
    int m_group = 0;
    unsigned m_locked = 0;
};
