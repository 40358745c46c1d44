#pragma once

#include <QString>

// Text clean-up shared by the readers of names, labels and pasted text.
namespace Text {

// The text without the leading and trailing characters that `trims` accepts.
QString trimmedWhere(const QString& text, bool (*trims)(QChar));

// Spaces (Unicode space separators) and horizontal tabs, not line breaks.
bool isBlankOrTab(QChar c);
QString trimmedBlanksAndTabs(const QString& text);

} // namespace Text
