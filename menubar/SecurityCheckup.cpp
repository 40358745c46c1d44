#include "menubar/SecurityCheckup.h"

#include "core/Text.h"

#include <QHash>
#include <algorithm>

namespace SecurityCheckup {

std::optional<Severity> severityFromRaw(int raw) {
    if (raw < 1 || raw > 3)
        return std::nullopt;
    return Severity(raw);
}

namespace {

struct KindName {
    Kind kind;
    const char* name;
};

constexpr KindName kindNames[] = {
    {Kind::duplicateSecret, "duplicateSecret"},
    {Kind::weakSecret, "weakSecret"},
    {Kind::missingIssuer, "missingIssuer"},
    {Kind::noRecoveryCodes, "noRecoveryCodes"},
    {Kind::nonStandardConfig, "nonStandardConfig"},
};

Finding finding(Kind kind, Severity severity, QList<QUuid> accountIDs, const QString& title,
                const QString& detail) {
    return {QUuid::createUuid(), kind, severity, std::move(accountIDs), title, detail};
}

} // namespace

QString toText(Kind kind) {
    for (const KindName& entry : kindNames)
        if (entry.kind == kind)
            return QLatin1String(entry.name);
    return {};
}

std::optional<Kind> kindFromText(const QString& text) {
    for (const KindName& entry : kindNames)
        if (text == QLatin1String(entry.name))
            return entry.kind;
    return std::nullopt;
}

Result analyze(const QList<Account>& accounts) {
    QList<const Account*> active;
    for (const Account& account : accounts)
        if (!account.deletedAt)
            active.append(&account);

    QList<Finding> findings;

    // Shared secrets, one finding per group, the groups in the order of
    // their first account.
    QHash<QByteArray, QList<const Account*>> bySecret;
    for (const Account* account : std::as_const(active))
        bySecret[account->secret].append(account);
    for (const Account* account : std::as_const(active)) {
        const auto group = bySecret.constFind(account->secret);
        if (group == bySecret.constEnd() || group->size() < 2 || group->first() != account)
            continue;
        QList<QUuid> ids;
        QStringList labels;
        for (const Account* member : *group) {
            ids.append(member->id);
            labels.append(member->displayLabel());
        }
        findings.append(finding(Kind::duplicateSecret, Severity::critical, ids,
                                QStringLiteral("Duplicate secret"),
                                QStringLiteral("These accounts share the same secret key: ") +
                                    labels.join(QStringLiteral(", ")) +
                                    QStringLiteral(". If they aren't truly the same login, re-add "
                                                   "one from a fresh QR code.")));
    }

    for (const Account* account : std::as_const(active)) {
        const QString label = account->displayLabel();
        const QList<QUuid> ids{account->id};
        if (account->secret.size() < strongSecretBytes)
            findings.append(finding(Kind::weakSecret, Severity::warning, ids,
                                    QStringLiteral("Short secret key"),
                                    label + QStringLiteral(" uses a ") +
                                        QString::number(account->secret.size() * 8) +
                                        QStringLiteral("-bit key. Where the site allows, re-enroll "
                                                       "to get a stronger one.")));
        if (Text::trimmedBlanksAndTabs(account->issuer).isEmpty())
            findings.append(finding(Kind::missingIssuer, Severity::info, ids,
                                    QStringLiteral("No service name"),
                                    label + QStringLiteral(" has no issuer, which makes it harder "
                                                           "to recognize. Add one under Edit.")));
        if (Text::trimmedBlanksAndTabs(account->recoveryCodes).isEmpty())
            findings.append(finding(Kind::noRecoveryCodes, Severity::info, ids,
                                    QStringLiteral("No recovery codes"),
                                    label + QStringLiteral(" has no backup codes saved. If you "
                                                           "lose this device, recovery codes are "
                                                           "the way back in.")));
        if (account->type == OTPType::totp && !account->isSteam && account->digits != 6 &&
            account->digits != 8)
            findings.append(finding(Kind::nonStandardConfig, Severity::info, ids,
                                    QStringLiteral("Unusual code length"),
                                    label + QStringLiteral(" produces ") +
                                        QString::number(account->digits) +
                                        QStringLiteral("-digit codes; most sites expect 6.")));
    }

    std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
        return int(a.severity) > int(b.severity);
    });
    const int total = score(findings, active.size());
    return {findings, total};
}

int score(const QList<Finding>& findings, qsizetype accountCount) {
    if (accountCount < 1)
        return 100;
    qint64 penalty = 0;
    qint64 information = 0;
    for (const Finding& f : findings) {
        switch (f.severity) {
        case Severity::critical:
            penalty += 25;
            break;
        case Severity::warning:
            penalty += 10;
            break;
        case Severity::info:
            information += 3;
            break;
        }
    }
    return int(std::max<qint64>(0, 100 - penalty - std::min<qint64>(information, 12)));
}

} // namespace SecurityCheckup
