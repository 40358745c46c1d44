#include "system/QuickLauncherRanking.h"

#include "core/Text.h"

#include <algorithm>
#include <vector>

namespace QuickLauncherRanking {
namespace {

// Canonically equivalent spellings compare equal once both are composed.
QString composed(const QString& text) { return text.normalized(QString::NormalizationForm_C); }

// Final sigma and the other context rules included, so that a name in
// capitals finds its lower-case spelling and the other way round.
QString folded(const QString& text) { return Text::lowercased(composed(text)); }

// Below the combining marks, and without a carriage return (which joins a
// following line feed), every code unit is a character of its own: the
// common case, counted without a boundary finder.
bool oneUnitPerCharacter(QStringView text) {
    for (const QChar c : text)
        if (c.unicode() >= 0x300 || c == QLatin1Char('\r')) return false;
    return true;
}

// Simple texts stay one unit per character when lower-cased, one by one
// (İ is the one letter in that range whose lower case takes two), and are
// composed already: the common case, ranked without copies.
bool isSimple(QStringView text) {
    for (const QChar c : text)
        if (c.unicode() >= 0x300 || c == QLatin1Char('\r') || c.unicode() == 0x130) return false;
    return true;
}

// A text split into its user-perceived characters. Views into `text`, which
// it keeps.
struct Characters {
    QString text;
    std::vector<QStringView> items;

    explicit Characters(QString from) : text(std::move(from)) {
        items.reserve(std::size_t(text.size()));
        if (oneUnitPerCharacter(text)) {
            for (qsizetype i = 0; i < text.size(); ++i)
                items.push_back(QStringView(text).sliced(i, 1));
            return;
        }
        Text::forEachGrapheme(text, [this](QStringView character) {
            items.push_back(character);
            return true;
        });
    }

    qsizetype size() const { return qsizetype(items.size()); }
    char32_t codePoint(qsizetype i) const { return Text::firstCodePoint(items[std::size_t(i)]); }
    QStringView operator[](qsizetype i) const { return items[std::size_t(i)]; }
};

// A simple text as its characters, lower-cased on the fly when asked.
struct Units {
    QStringView text;
    bool lowered = false;
    qsizetype size() const { return text.size(); }
    char32_t codePoint(qsizetype i) const { return text[i].unicode(); }
    QChar operator[](qsizetype i) const {
        const QChar c = text[i];
        if (!lowered) return c;
        if (c.unicode() < 0x80)
            return c >= QLatin1Char('A') && c <= QLatin1Char('Z') ? QChar(c.unicode() + 32) : c;
        return c.toLower();
    }
};

bool isLetterOrNumber(char32_t c) { return QChar::isLetter(c) || QChar::isNumber(c); }

struct FieldMatch {
    qint64 tier;
    qint64 pos;
};

// Where `q` first occurs in the field, lower-cased.
std::optional<FieldMatch> fieldMatch(const QString& field, const QString& q) {
    if (isSimple(field) && isSimple(q)) {
        const Units lower{field, true};
        for (qsizetype at = 0; at + q.size() <= lower.size(); ++at) {
            qsizetype j = 0;
            while (j < q.size() && lower[at + j] == q[j])
                ++j;
            if (j < q.size()) continue;
            if (at == 0) return FieldMatch{0, 0};
            return FieldMatch{isLetterOrNumber(lower[at - 1].unicode()) ? 2 : 1, at};
        }
        return std::nullopt;
    }
    const QString lower = folded(field);
    const qsizetype at = lower.indexOf(q);
    if (at < 0) return std::nullopt;
    if (at == 0) return FieldMatch{0, 0};
    qint64 pos = 0;
    char32_t before = 0;
    if (oneUnitPerCharacter(QStringView(lower).first(at))) {
        pos = at;
        before = lower[at - 1].unicode();
    } else {
        // The characters wholly before the match, and the one holding the
        // code unit just before it (the match's own, should the match begin
        // inside a character).
        qsizetype start = 0;
        Text::forEachGrapheme(lower, [&](QStringView character) {
            if (start >= at) return false;
            before = Text::firstCodePoint(character);
            start += character.size();
            if (start <= at) ++pos;
            return start < at;
        });
    }
    return FieldMatch{isLetterOrNumber(before) ? 2 : 1, pos};
}

bool better(const FieldMatch& a, const FieldMatch& b) {
    return a.tier != b.tier ? a.tier < b.tier : a.pos < b.pos;
}

} // namespace

QString normalizedQuery(const QString& text) { return folded(Text::trimmedBlanksAndTabs(text)); }

std::optional<Hit> substringHit(const Account& account, qint64 idx, const QString& q) {
    const std::optional<FieldMatch> issuer = fieldMatch(account.issuer, q);
    const std::optional<FieldMatch> name = fieldMatch(account.name, q);
    if (!issuer && !name) return std::nullopt;
    const FieldMatch best = !name || (issuer && !better(*name, *issuer)) ? *issuer : *name;
    return Hit{best.tier, best.pos, idx};
}

namespace {

// The walk itself, over any sequence of characters: `wanted` the query's,
// `lower` the lower-cased field's, `stored` the field's as stored (or the
// lower-cased one again when the two do not line up character by character,
// in which case `aligned` is false and no case change is looked for).
template <typename Characters>
std::optional<qint64> walk(const Characters& wanted, const Characters& lower,
                           const Characters& stored, bool aligned) {
    if (wanted.size() == 0) return 0;
    if (lower.size() == 0) return std::nullopt;
    qsizetype k = 0;
    qsizetype last = -2; // a match at 0 never follows a previous one
    qint64 score = 0;
    for (qsizetype i = 0; i < lower.size() && k < wanted.size(); ++i) {
        if (lower[i] != wanted[k]) continue;
        qint64 points = i == last + 1 ? 6 : 1;
        bool wordStart = i == 0;
        if (!wordStart) {
            const char32_t previous = stored.codePoint(i - 1);
            wordStart = !isLetterOrNumber(previous) ||
                        (aligned && QChar::isLower(previous) && QChar::isUpper(stored.codePoint(i)));
        }
        if (wordStart) points += 8;
        if (i == 0) points += 6;
        score += points;
        last = i;
        ++k;
    }
    if (k < wanted.size()) return std::nullopt;
    return score;
}

} // namespace

std::optional<qint64> fuzzyScore(const QString& q, const QString& field) {
    if (isSimple(q) && isSimple(field))
        return walk(Units{q, true}, Units{field, true}, Units{field}, true);
    const Characters wanted(folded(q));
    const Characters stored(composed(field));
    const Characters lower(folded(field));
    // Lower-casing keeps the number of characters of every common text; if
    // it ever did not, the stored field's characters no longer line up, and
    // the word-start tests read the lower-cased field (no case change then).
    const bool aligned = stored.size() == lower.size();
    return walk(wanted, lower, aligned ? stored : lower, aligned);
}

std::optional<FuzzyMatch> fuzzyMatch(const Account& account, qint64 idx, const QString& q) {
    const std::optional<qint64> issuer = fuzzyScore(q, account.issuer);
    const std::optional<qint64> name = fuzzyScore(q, account.name);
    if (!issuer && !name) return std::nullopt;
    return FuzzyMatch{std::max(issuer.value_or(-1), name.value_or(-1)), idx};
}

QList<Account> results(const QString& query, const QList<Account>& accounts) {
    const QString q = normalizedQuery(query);
    if (q.isEmpty()) return accounts;

    std::vector<Hit> hits;
    for (qsizetype idx = 0; idx < accounts.size(); ++idx)
        if (const std::optional<Hit> hit = substringHit(accounts[idx], idx, q)) hits.push_back(*hit);
    QList<Account> ranked;
    if (!hits.empty()) {
        std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) {
            if (a.tier != b.tier) return a.tier < b.tier;
            if (a.pos != b.pos) return a.pos < b.pos;
            return a.idx < b.idx;
        });
        ranked.reserve(qsizetype(hits.size()));
        for (const Hit& hit : hits)
            ranked.append(accounts[hit.idx]);
        return ranked;
    }

    std::vector<FuzzyMatch> matches;
    for (qsizetype idx = 0; idx < accounts.size(); ++idx)
        if (const std::optional<FuzzyMatch> match = fuzzyMatch(accounts[idx], idx, q))
            matches.push_back(*match);
    std::sort(matches.begin(), matches.end(), [](const FuzzyMatch& a, const FuzzyMatch& b) {
        return a.score != b.score ? a.score > b.score : a.idx < b.idx;
    });
    ranked.reserve(qsizetype(matches.size()));
    for (const FuzzyMatch& match : matches)
        ranked.append(accounts[match.idx]);
    return ranked;
}

} // namespace QuickLauncherRanking
