#pragma once

#include <QString>

// Software updates. Quillet on Linux comes through the distribution's or the
// user's own packaging; there is no update feed the program could check by
// itself, so the updater reports that it cannot check.
namespace Updater {

// The configured update feed, or empty when there is none.
QString feed();
bool canCheckForUpdates();
// Starts a check when one can start; does nothing otherwise.
void checkForUpdates();

} // namespace Updater
