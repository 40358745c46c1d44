#pragma once

#include <QString>

#include <optional>

// The program's direct actions on the desktop: a synthetic paste, typing a
// text into the focused window, the settings panes that grant what those
// need, and launching at login. All on the GUI thread. Callers check
// Accessibility::isTrusted() before sending keystrokes.
namespace SystemActions {

// Control+V into the focused window (see SyntheticKeys::paste).
void pasteCommandV();

// `text` as key presses into the focused window; an empty text sends nothing.
void typeText(const QString& text);

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
