#include "core/Text.h"

namespace Text {

QString trimmedWhere(const QString& text, bool (*trims)(QChar)) {
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && trims(text[start]))
        ++start;
    while (end > start && trims(text[end - 1]))
        --end;
    return text.mid(start, end - start);
}

bool isBlankOrTab(QChar c) {
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

QString trimmedBlanksAndTabs(const QString& text) { return trimmedWhere(text, isBlankOrTab); }

} // namespace Text
