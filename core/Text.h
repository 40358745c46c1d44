#pragma once

#include <QString>
#include <QStringView>
#include <QTextBoundaryFinder>

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

// The text for a place that shows one line: each line break (a line feed,
// a carriage return with or without one, and the other Unicode line and
// paragraph separators) as one space.
QString oneLine(const QString& text);

// The first code point of a text (0 for an empty one).
inline char32_t firstCodePoint(QStringView text) {
    if (text.size() >= 2 && text[0].isHighSurrogate() && text[1].isLowSurrogate())
        return QChar::surrogateToUcs4(text[0], text[1]);
    return text.isEmpty() ? 0 : text[0].unicode();
}

// Calls `visit` with each user-perceived character (grapheme cluster) of
// `text`, in order, until it returns false.
template <typename Visit> void forEachGrapheme(const QString& text, Visit visit) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = finder.toNextBoundary();
        if (end <= start) // no further boundary: the rest is one cluster
            end = text.size();
        if (!visit(QStringView(text).mid(start, end - start))) return;
        start = end;
    }
}

} // namespace Text
