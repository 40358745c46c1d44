#pragma once

#include <QString>

class UserDefaults;

// The one way a code reaches the clipboard: written with the markers that keep
// it out of clipboard histories, and cleared again after the delay the user
// chose ("clipboardClearSeconds.v1", 0 = never) if the clipboard still holds
// it then.
namespace Clipboard {

void copyCodeToClipboard(const QString& code, UserDefaults& defaults);

// Milliseconds until the pending clear, or -1 when none is pending.
int pendingClearMs();

} // namespace Clipboard
