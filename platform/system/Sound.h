#pragma once

#include <QString>

// Short system sounds by name ("Tink"), from the desktop's sound theme, or a
// bundled sound where the theme has none. A name we do not know plays
// nothing; a desktop without sound stays silent. Playing never waits for the
// sound.
namespace Sound {

void play(const QString& name);

// Whether `name` would make a sound; for callers that offer a choice.
bool isKnown(const QString& name);

} // namespace Sound
