#pragma once

#include <QString>

// Folders that hold the user's secrets, settings or timeline: readable by the
// user alone, whatever the umask says.
namespace PrivateFolder {

// Creates the folder and every missing parent with mode 0700, and makes the
// folder itself 0700 when it already exists with more permissive bits (an
// earlier version, or another program, may have made it 0755). Parents that
// already exist are left as they are. True when the folder exists afterwards.
bool ensure(const QString& folder);

} // namespace PrivateFolder
