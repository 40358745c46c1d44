#pragma once

#include <QString>

// Launching the program when the user logs in, as an XDG autostart entry:
// $XDG_CONFIG_HOME/autostart/quillet.desktop, starting the running binary.
namespace LoginItem {

enum class Status {
    notRegistered,
    enabled,
    // The entry is there, but the desktop's startup-applications settings
    // turned it off (Hidden=true or X-GNOME-Autostart-enabled=false): the
    // user has to turn it on again, there or by registering it anew.
    requiresApproval,
    notFound
};

Status status();

// Both return false and put a sentence for the user into `error` (when given)
// if the entry could not be written or removed.
bool registerItem(QString* error = nullptr);
bool unregisterItem(QString* error = nullptr);

// Where the entry lives; for tests and for messages.
QString desktopFilePath();

} // namespace LoginItem
