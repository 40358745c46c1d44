// Time to compute the current codes of 1,000 TOTP accounts, the work of one
// clock tick with a large vault on screen.
#include "core/Account.h"
#include "platform/crypto/Crypto.h"

#include <benchmark/benchmark.h>

namespace {

QList<Account> makeAccounts(int count) {
    QList<Account> accounts;
    const HashAlgorithm algorithms[] = {HashAlgorithm::sha1, HashAlgorithm::sha256,
                                        HashAlgorithm::sha512};
    for (int i = 0; i < count; ++i) {
        Account account;
        account.name = QStringLiteral("user%1").arg(i);
        account.issuer = QStringLiteral("Service %1").arg(i);
        account.secret = Crypto::randomBytes(20).value_or(QByteArray(20, 'k'));
        account.algorithm = algorithms[i % 3];
        account.digits = 6 + i % 3;
        accounts.append(account);
    }
    return accounts;
}

void codesOfThousandTotpAccounts(benchmark::State& state) {
    const QList<Account> accounts = makeAccounts(1000);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (auto _ : state) {
        for (const Account& account : accounts)
            benchmark::DoNotOptimize(account.groupedCode(now));
    }
}
BENCHMARK(codesOfThousandTotpAccounts)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
