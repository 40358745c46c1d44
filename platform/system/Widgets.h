#pragma once

// Desktop widgets showing codes would reload their timelines here. Linux has
// no such widgets, so a reload is only counted (tests read the count).
namespace Widgets {

void reloadAll();
int reloadCount();

} // namespace Widgets
