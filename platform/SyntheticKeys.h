#pragma once

#include <QString>

// Keyboard events sent to whatever window has the keyboard focus, through the
// X server's XTEST extension. Both calls finish sending before they return and
// return false, sending nothing, when the program does not run on X11 or the
// server lacks XTEST. Callers check Accessibility::isTrusted() first.
namespace SyntheticKeys {

// Control+V, the paste shortcut of X11 programs. Modifiers still held from the
// hotkey that led here (Control, Alt, Shift, Super, AltGr) are released first:
// otherwise the focused program would see Control+Alt+V and not paste.
bool paste();

// Types `text` one character at a time. A character that the keyboard layout
// cannot produce is bound to an unused key code of its own, emptied again two
// seconds after the last use or when the program quits.
bool type(const QString& text);

} // namespace SyntheticKeys
