#pragma once

#include "platform/desktop/SyntheticKeys.h"

#include <QString>

#include <functional>
#include <optional>

// The program's direct actions on the desktop: typing a text (a code) into
// the focused window, the settings panes that grant what those
// need, and launching at login. All on the GUI thread. Callers check
// Accessibility::isTrusted() before sending keystrokes.
namespace SystemActions {

// `text` as key presses into the focused window; an empty text sends nothing
// (and counts as sent). `done`, when given, hears what became of the keys:
// on X11 once the user let go of the keys held (a second at most), in a
// Wayland session once the desktop answered (the first time it may ask the
// user). Auto-paste types too: a synthetic Control+V reaches a terminal as a
// control character, not as a paste.
void typeText(const QString& text, SyntheticKeys::Done done = {});

// Open the desktop's pane for keystroke permission / startup programs.
// Linux desktops have neither, so both return false; the caller then shows
// accessibilitySettingsHelp() / loginItemsSettingsHelp() instead.
bool openAccessibilitySettings();
bool openLoginItemsSettings();
QString accessibilitySettingsHelp();
QString loginItemsSettingsHelp();

// Starts or stops launching at login. Nothing when nothing needed doing or
// the change worked; otherwise the reason it failed, for the settings window.
std::optional<QString> setLaunchAtLogin(bool on);

} // namespace SystemActions
