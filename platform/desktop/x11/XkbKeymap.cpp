#include "platform/desktop/x11/XkbKeymap.h"

XkbKeymap::XkbKeymap(Display* display)
    : m_desc(XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd)) {
    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) == Success) {
        m_group = state.group;
        m_locked = state.locked_mods | state.latched_mods;
    }
}

XkbKeymap::~XkbKeymap() {
    if (m_desc) XkbFreeKeyboard(m_desc, 0, True);
}

int XkbKeymap::groupOf(KeyCode key, int group) const {
    const int groups = XkbKeyNumGroups(m_desc, key);
    if (groups <= 0) return -1;
    if (group < groups) return group;
    const unsigned char info = XkbKeyGroupInfo(m_desc, key);
    switch (XkbOutOfRangeGroupAction(info)) {
    case XkbRedirectIntoRange: {
        const int redirected = XkbOutOfRangeGroupNumber(info);
        return redirected < groups ? redirected : 0;
    }
    case XkbClampIntoRange:
        return groups - 1;
    default:
        return group % groups;
    }
}
