#pragma once

#include "platform/SyntheticKeys.h"

#include <vector>

// The Wayland backend of SyntheticKeys: one RemoteDesktop session with a
// keyboard, keysyms through NotifyKeyboardKeysym.
namespace SyntheticKeys {

// The keysym that types a character (Latin-1 as itself, other characters in
// the Unicode range; Return, Tab and BackSpace for their controls).
quint32 keysymFor(char32_t c);

namespace PortalKeys {

Remote state();
void start();
// Sends the keysyms once the session is ready: pressed one after another and
// released in reverse order (`chord`, as for Control+V), or each pressed and
// released in turn. `done` hears whether they went out.
void send(const std::vector<quint32>& keysyms, Done done, bool chord = true);

} // namespace PortalKeys
} // namespace SyntheticKeys
