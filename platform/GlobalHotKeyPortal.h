#pragma once

#include "platform/GlobalHotKey.h"

#include <QString>

// The Wayland backend of GlobalHotKey: one GlobalShortcuts session for the
// program, holding every registered combination. Changes made in one turn
// of the event loop go to the desktop together.
namespace GlobalHotKey::PortalShortcuts {

void add(quint32 id, const QString& name, const QString& description, const QString& trigger);
void remove(quint32 id);
DesktopState state(quint32 id);
bool lacking();

} // namespace GlobalHotKey::PortalShortcuts
