#pragma once

#include <QString>

// Text clean-up shared by the readers of names, labels and pasted text.
namespace Text {

// The text without the leading and trailing characters that `trims` accepts.
QString trimmedWhere(const QString& text, bool (*trims)(QChar));

// Spaces (Unicode space separators) and horizontal tabs, not line breaks.
bool isBlankOrTab(QChar c);
QString trimmedBlanksAndTabs(const QString& text);

// The Unicode default full lowercase mapping, the same in every locale: one
// character may become two ("İ" becomes "i" and a combining dot), and a
// capital sigma that ends a word becomes the final form "ς".
QString lowercased(const QString& text);

} // namespace Text
