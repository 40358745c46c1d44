#include "platform/system/SystemSettings.h"

namespace SystemSettings {

bool open(const QString& pane) {
    Q_UNUSED(pane);
    return false;
}

} // namespace SystemSettings
