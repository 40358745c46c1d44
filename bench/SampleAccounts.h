#pragma once

#include "core/Account.h"
#include "platform/crypto/Crypto.h"

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

// The same accounts with 20 random bytes each as their secret, as a real
// vault's would be.
inline QList<Account> randomSampleAccounts(int count) {
    QList<Account> accounts = sampleAccounts(count);
    for (int i = 0; i < count; ++i)
        accounts[i].secret = Crypto::randomBytes(20).value_or(QByteArray(20, char(i)));
    return accounts;
}
