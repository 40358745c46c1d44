#include "platform/system/Updater.h"

namespace Updater {

QString feed() { return {}; }

bool canCheckForUpdates() { return !feed().isEmpty(); }

void checkForUpdates() {}

} // namespace Updater
