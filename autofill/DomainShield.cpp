#include "autofill/DomainShield.h"

#include "core/Text.h"

#include <QUrl>

#include <algorithm>
#include <iterator>

namespace HostText {

namespace {

// Unicode's default-ignorable code points: what a font draws as nothing,
// and what IDNA either drops or refuses (soft hyphen, grapheme joiner,
// Hangul fillers, Mongolian and other variation selectors, joiners, tags).
constexpr std::pair<char32_t, char32_t> defaultIgnorable[] = {
    {0x00AD, 0x00AD},   {0x034F, 0x034F},   {0x061C, 0x061C}, {0x115F, 0x1160}, {0x17B4, 0x17B5},
    {0x180B, 0x180F},   {0x200B, 0x200F},   {0x202A, 0x202E}, {0x2060, 0x206F}, {0x3164, 0x3164},
    {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},   {0xFFA0, 0xFFA0}, {0xFFF0, 0xFFF8}, {0x1BCA0, 0x1BCA3},
    {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},
};

// Whether the character shows nothing a reader could tell apart: controls,
// formats, separators, spaces other than the plain one (which shows as a
// gap), unassigned and private code points, the default-ignorables, and the
// blank braille pattern.
bool drawsNothing(char32_t c) {
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    case QChar::Separator_Space:
        return c != U' ';
    default:
        break;
    }
    const auto* range = std::find_if(std::begin(defaultIgnorable), std::end(defaultIgnorable),
                                     [c](const auto& r) { return c >= r.first && c <= r.second; });
    return range != std::end(defaultIgnorable) || c == 0x2800;
}

// A mark drawn onto the letter before it, which may look like a part of
// that letter ("i" with a dot above reads as "i").
bool isMark(char32_t c) {
    const QChar::Category category = QChar::category(c);
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing;
}

// The code points of a text; a surrogate without its partner stays itself
// (and is written out), where QString::toUcs4 would make it U+FFFD.
QList<char32_t> codePoints(QStringView text) {
    QList<char32_t> points;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            points.append(QChar::surrogateToUcs4(text[i], text[i + 1]));
            ++i;
        } else {
            points.append(text[i].unicode());
        }
    }
    return points;
}

void append(QString& out, char32_t c, bool escapeNonASCII = false) {
    if (drawsNothing(c) || isMark(c) || (escapeNonASCII && c >= 0x80))
        out += (c > 0xFFFF ? QStringLiteral("\\U") : QStringLiteral("\\u")) +
               QString::number(uint(c), 16)
                   .toUpper()
                   .rightJustified(c > 0xFFFF ? 8 : 4, QLatin1Char('0'));
    else
        out += QString::fromUcs4(&c, 1);
}

} // namespace

QString shown(const QString& host) {
    QString out;
    out.reserve(host.size());
    // Letter by letter as a reader sees them. A letter with marks that
    // compose into one character ("u" and a diaeresis) shows as that
    // character does; any other mark is written out, and so is every
    // character that draws nothing.
    Text::forEachGrapheme(host, [&out](QStringView letter) {
        const QList<char32_t> points = codePoints(letter);
        const QList<char32_t> composed =
            codePoints(letter.toString().normalized(QString::NormalizationForm_C));
        if (points.size() > 1 && composed.size() == 1 && !drawsNothing(composed.first()))
            out += letter;
        else
            for (const char32_t c : points)
                append(out, c);
        return true;
    });
    const bool ascii =
        std::all_of(host.begin(), host.end(), [](QChar c) { return c.unicode() < 0x80; });
    if (ascii) return out;
    // Drawn left to right in the order it is written, as a screen reader
    // says it: a right-to-left label never moves to the other end.
    const auto leftToRight = [](const QString& text) {
        return QChar(0x2066) + text + QChar(0x2069);
    };
    // Where the name leads, in the letters every reader knows. When IDNA
    // refuses the name there is no such form to tell it from the site it
    // looks like: then every character outside ASCII is written out.
    const QString ace = QString::fromLatin1(QUrl::toAce(host));
    if (ace.isEmpty()) {
        QString escaped;
        for (const char32_t c : codePoints(host))
            append(escaped, c, true);
        return leftToRight(escaped);
    }
    return leftToRight(out) + QStringLiteral(" (") + ace + QLatin1Char(')');
}

} // namespace HostText

std::optional<DomainShieldWarning> DomainShieldWarning::evaluate(const Account& account,
                                                                 const QList<QString>& hosts) {
    QList<RequestHost> named;
    named.reserve(hosts.size());
    for (const QString& host : hosts)
        named.append({host, true});
    return evaluate(account, named);
}

std::optional<DomainShieldWarning> DomainShieldWarning::evaluate(const Account& account,
                                                                 const QList<RequestHost>& hosts) {
    const QStringList known = IssuerDomains::domains(account.issuer);
    if (known.isEmpty())
        return std::nullopt;
    // A host against all of the service's domains: its own on any of them,
    // a look-alike of the one it imitates, else different from the main one.
    const auto verdictOf = [&known](const RequestHost& host) -> std::pair<DomainVerdict, QString> {
        if (!host.isHost) return {DomainVerdict::mismatch, known.first()};
        std::pair<DomainVerdict, QString> result{DomainVerdict::unverified, known.first()};
        for (const QString& domain : known) {
            const DomainVerdict verdict = DomainGuard::verdict(host.text, domain);
            if (verdict == DomainVerdict::match) return {verdict, domain};
            if (verdict == DomainVerdict::spoof && result.first != DomainVerdict::spoof)
                result = {verdict, domain};
            else if (verdict == DomainVerdict::mismatch && result.first == DomainVerdict::unverified)
                result.first = verdict;
        }
        return result;
    };
    std::optional<DomainShieldWarning> candidate;
    for (const RequestHost& host : hosts) {
        const auto [verdict, domain] = verdictOf(host);
        switch (verdict) {
        case DomainVerdict::match:
            return std::nullopt;
        case DomainVerdict::spoof:
            candidate = DomainShieldWarning{DomainVerdict::spoof, host.text, domain};
            break;
        case DomainVerdict::mismatch:
            if (!candidate)
                candidate = DomainShieldWarning{DomainVerdict::mismatch, host.text, domain};
            break;
        case DomainVerdict::unverified:
            break;
        }
    }
    return candidate;
}
