#include "platform/SessionType.h"

#include <QString>
#include <QtGlobal>

namespace SessionType {

bool wayland() {
    if (qEnvironmentVariable("XDG_SESSION_TYPE").compare(QLatin1String("wayland"),
                                                         Qt::CaseInsensitive) == 0)
        return true;
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace SessionType
