#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

// The clipboard of a Wayland session through the compositor's data-control
// protocol, on a connection of its own. A compositor takes an ordinary
// client's selection only while that client has the keyboard, so a code
// copied by a hotkey over another window would never arrive; data control
// sets the selection from anywhere, and works the same whether Qt runs on
// Wayland or on XWayland.
namespace DataControl {

// True when the session's compositor offers data control (connecting on the
// first call); every other call below needs it.
bool available();

// Offers TEXT under the plain-text types, plus each (type, bytes) marker.
void write(const QString& text, const QList<std::pair<QByteArray, QByteArray>>& markers);
// Our text while our offer still holds the selection (empty once cleared);
// nothing once another client took it (its text is not read: that would wait
// on that client).
std::optional<QString> text();
void clear();

} // namespace DataControl
