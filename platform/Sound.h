#pragma once

#include <QString>

// Short system sounds by name ("Tink"). A name we do not know plays nothing.
namespace Sound {

void play(const QString& name);

// Whether `name` would make a sound; for callers that offer a choice.
bool isKnown(const QString& name);

} // namespace Sound
