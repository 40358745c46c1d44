#include "core/Text.h"

#include <QList>
#include <algorithm>
#include <iterator>

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

namespace {

constexpr char32_t capitalSigma = 0x03A3;
constexpr char32_t finalSigma = 0x03C2;

bool isCased(char32_t c) {
    return QChar::isLower(c) || QChar::isUpper(c) || QChar::isTitleCase(c);
}

// Marks, format characters, modifiers and the in-word punctuation that case
// mapping looks through when it decides whether a letter ends a word.
bool isCaseIgnorable(char32_t c) {
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_Enclosing:
    case QChar::Other_Format:
    case QChar::Letter_Modifier:
    case QChar::Symbol_Modifier:
        return true;
    default:
        break;
    }
    static constexpr char32_t inWord[] = {0x0027, 0x002E, 0x003A, 0x00B7, 0x0387, 0x055F,
                                          0x05F4, 0x2018, 0x2019, 0x2024, 0x2027, 0xFE13,
                                          0xFE52, 0xFE55, 0xFF07, 0xFF0E, 0xFF1A};
    return std::find(std::begin(inWord), std::end(inWord), c) != std::end(inWord);
}

// A cased letter before the sigma (looking through case-ignorables), and none
// after it.
bool endsWord(const QList<uint>& text, qsizetype at) {
    qsizetype before = at - 1;
    while (before >= 0 && isCaseIgnorable(text[before]))
        --before;
    if (before < 0 || !isCased(text[before]))
        return false;
    qsizetype after = at + 1;
    while (after < text.size() && isCaseIgnorable(text[after]))
        ++after;
    return after == text.size() || !isCased(text[after]);
}

} // namespace

QString oneLine(const QString& text) {
    const auto isBreak = [](QChar c) {
        const char16_t u = c.unicode();
        return u == 0x0A || u == 0x0B || u == 0x0C || u == 0x0D || u == 0x85 || u == 0x2028 ||
               u == 0x2029;
    };
    if (std::none_of(text.begin(), text.end(), isBreak)) return text;
    QString line;
    line.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isBreak(text[i])) {
            line.append(text[i]);
            continue;
        }
        // A carriage return and the line feed after it are one break.
        if (text[i] == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
            ++i;
        line.append(QLatin1Char(' '));
    }
    return line;
}

QString lowercased(const QString& text) {
    if (!text.contains(QChar(capitalSigma)))
        return text.toLower();
    const QList<uint> points = text.toUcs4();
    QString out;
    for (qsizetype i = 0; i < points.size(); ++i) {
        if (points[i] == capitalSigma && endsWord(points, i))
            out += QChar(finalSigma);
        else
            out += QString::fromUcs4(reinterpret_cast<const char32_t*>(&points[i]), 1).toLower();
    }
    return out;
}

} // namespace Text
