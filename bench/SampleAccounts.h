#pragma once

#include "core/Account.h"

#include <QList>

// `count` distinct TOTP accounts, "Service N" / "userN@example.com".
inline QList<Account> sampleAccounts(int count) {
    QList<Account> accounts;
    for (int i = 0; i < count; ++i) {
        Account account;
        account.issuer = QStringLiteral("Service %1").arg(i);
        account.name = QStringLiteral("user%1@example.com").arg(i);
        account.secret = QByteArray("12345678901234567890").append(char(i));
        accounts.append(account);
    }
    return accounts;
}
