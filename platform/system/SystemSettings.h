#pragma once

#include <QString>

// Opening a pane of the desktop's settings program by name.
namespace SystemSettings {

// Linux desktops share no such panes (and XTEST and autostart need none), so
// this opens nothing and returns false; callers fall back to telling the user.
bool open(const QString& pane);

} // namespace SystemSettings
