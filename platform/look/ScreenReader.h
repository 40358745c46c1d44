#pragma once

#include <QString>

class QWidget;

// What screen readers (over AT-SPI) make of widgets that Qt cannot describe
// by itself: pictures that only decorate, and widgets that draw their own
// text. Call before the widget is first shown.
namespace ScreenReader {

// A picture that only decorates (its meaning is in the text beside it) is
// left out of what a screen reader announces; `hidden` false brings it back,
// for a picture that matters only at times.
void setHidden(QWidget* widget, bool hidden = true);

// A widget that draws its own text (a code, a countdown) is read as a label
// whose text is the widget's accessible name; keep that name equal to what
// it shows.
void readAsText(QWidget* widget);

// A text as a screen reader should get it: without the directional isolates
// (U+2066 to U+2069) that keep a name from reordering the sentence around
// it on screen, which a reader would announce as marks or pauses.
QString spoken(const QString& text);

} // namespace ScreenReader
