#pragma once

#include "core/Account.h"

#include <QList>
#include <QString>
#include <optional>

// How the quick-search panel orders the accounts for what the user typed,
// best first. Only the issuer and the name take part, in that order.
//
// Two stages. Accounts whose issuer or name contains the search text come
// first by where it occurs (the start of the field, then the start of a
// word, then inside a word; then how far in; then the store's order). Only
// when no account contains it at all are the accounts scored by matching the
// search text's characters in order, with bonuses for runs and word starts.
//
// Characters are user-perceived characters: an accented letter or an emoji
// counts as one, and canonically equivalent spellings are equal.
namespace QuickLauncherRanking {

// One account that contains the search text.
struct Hit {
    qint64 tier = 0; // 0: at the start of the field; 1: at a word start; 2: inside a word
    qint64 pos = 0;  // characters before the match in the lower-cased field
    qint64 idx = 0;  // the account's index in the store's order
    friend bool operator==(const Hit&, const Hit&) = default;
};

// One account that matched only in the second stage.
struct FuzzyMatch {
    qint64 score = 0;
    qint64 idx = 0;
    friend bool operator==(const FuzzyMatch&, const FuzzyMatch&) = default;
};

// The search text as both stages compare it: without leading and trailing
// spaces and tabs (line breaks stay), lower-cased.
QString normalizedQuery(const QString& text);

// The account's better match of `q` (a normalized query, not empty) in its
// issuer or name: the lower tier, then the lower position, the issuer's on a
// tie. Only the first occurrence in each field counts.
std::optional<Hit> substringHit(const Account& account, qint64 idx, const QString& q);

// Points for finding the characters of `q` in `field` in order, each at the
// first place after the previous one: 15 at the field's start, 9 at a word
// start (after a character that is neither a letter nor a number, or at a
// change from lower to upper case), 14 at a word start directly after the
// previous match, 6 directly after it inside a word, 1 anywhere else.
// Nothing unless every character was found. An empty `q` scores 0.
std::optional<qint64> fuzzyScore(const QString& q, const QString& field);

// The better of the account's issuer and name scores; nothing when neither scored.
std::optional<FuzzyMatch> fuzzyMatch(const Account& account, qint64 idx, const QString& q);

// The accounts to list for `query`, best first: every account in the given
// order for a blank query; otherwise those containing it, or, when none
// does, those matching its characters in order; possibly none.
QList<Account> results(const QString& query, const QList<Account>& accounts);

} // namespace QuickLauncherRanking
