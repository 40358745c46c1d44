#include "platform/system/Widgets.h"

#include <atomic>

namespace Widgets {

namespace {
std::atomic<int> reloads = 0;
}

void reloadAll() { ++reloads; }
int reloadCount() { return reloads; }

} // namespace Widgets
