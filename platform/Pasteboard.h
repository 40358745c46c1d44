#pragma once

#include <QString>
#include <optional>

// The desktop clipboard. Codes are written with markers that tell clipboard
// managers not to keep or show them: the two marker types some managers
// know ("org.nspasteboard.TransientType", "org.nspasteboard.ConcealedType")
// and the one KDE's Klipper and others read ("x-kde-passwordManagerHint").
namespace Pasteboard {

void writeConcealed(const QString& text);
// The clipboard's plain text, if it holds any.
std::optional<QString> text();
void clear();

} // namespace Pasteboard
