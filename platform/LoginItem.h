#pragma once

#include <QString>

// Launching the program when the user logs in, as an XDG autostart entry:
// $XDG_CONFIG_HOME/autostart/quillet.desktop, starting the running binary.
namespace LoginItem {

enum class Status {
    notRegistered,
    enabled,
    // Kept so callers can treat every platform alike; an autostart entry
    // never waits for anybody's approval.
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
