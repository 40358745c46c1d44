// Puts a few demonstration accounts into the current user's vault (the
// desktop test runs it inside its own throwaway session).
#include "core/AccountStore.h"
#include "core/SecurityLog.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("tarnwick"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillet"));
    const int count = argc > 1 ? QString::fromLatin1(argv[1]).toInt() : 4;
    const QStringList issuers = {"GitHub", "Example", "Acme Corp", "Steam", "Dropbox", "Google"};
    QList<Account> accounts;
    for (int i = 0; i < count; ++i) {
        Account account;
        account.issuer =
            issuers[i % issuers.size()] + (i < issuers.size() ? QString() : QString::number(i));
        account.name = QStringLiteral("user%1@example.com").arg(i);
        account.secret = QByteArray("12345678901234567890").append(char('a' + i % 26));
        account.type = i % issuers.size() == 2 ? OTPType::hotp : OTPType::totp;
        account.isSteam = i % issuers.size() == 3;
        account.isFavorite = i == 1;
        accounts.append(account);
    }
    AccountStore store(UserDefaults::standard(), SecurityLog::shared());
    const int accepted = store.importAccounts(accounts);
    SecurityLog::shared().waitForIdle();
    std::printf("seeded %d accounts\n", accepted);
    return store.lastError() ? 1 : 0;
}
