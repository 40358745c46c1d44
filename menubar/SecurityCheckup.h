#pragma once

#include "core/Account.h"

#include <QList>
#include <QString>
#include <QUuid>
#include <optional>

// The vault's checkup: what deserves the user's attention among the active
// accounts (shared secrets, short secrets, missing service names, missing
// recovery codes, unusual code lengths) and a score from 0 to 100. Pure: it
// keeps nothing, writes nothing and records nothing.
namespace SecurityCheckup {

enum class Severity { info = 1, warning = 2, critical = 3 };
// 1, 2 and 3; nothing for any other number.
std::optional<Severity> severityFromRaw(int raw);

enum class Kind { duplicateSecret, weakSecret, missingIssuer, noRecoveryCodes, nonStandardConfig };
QString toText(Kind kind); // the case's name, "duplicateSecret" ...
std::optional<Kind> kindFromText(const QString& text);

struct Finding {
    QUuid id; // new for every finding of every run
    Kind kind;
    Severity severity;
    QList<QUuid> accountIDs; // in vault order: two or more for a shared secret, else one
    QString title;
    QString detail;
};

struct Result {
    QList<Finding> findings; // highest severity first
    int score = 100;
};

// Secrets shorter than this many bytes are reported as weak.
inline constexpr qsizetype strongSecretBytes = 16;

// Looks at the accounts without deletedAt, in the order given.
Result analyze(const QList<Account>& accounts);

// 100 less 25 per critical and 10 per warning finding, less 3 per
// information finding up to 12 together; never below 0. An empty vault
// scores 100 whatever the findings.
int score(const QList<Finding>& findings, qsizetype accountCount);

} // namespace SecurityCheckup
