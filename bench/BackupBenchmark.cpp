// Writing and restoring a backup of 1,000 accounts: the time between the
// user's click and the file (or the restored list). Both directions run one
// 150,000-round key derivation, which dominates; the JSON part is measured
// on its own to show what grows with the vault.
#include "intake/Backup.h"
#include "platform/Crypto.h"

#include <benchmark/benchmark.h>

namespace {

const QString password = QStringLiteral("bench password");

QList<Account> makeAccounts(int count) {
    QList<Account> accounts;
    for (int i = 0; i < count; ++i) {
        Account account;
        account.name = QStringLiteral("user%1@example.com").arg(i);
        account.issuer = QStringLiteral("Service %1").arg(i);
        account.secret = Crypto::randomBytes(20).value_or(QByteArray(20, 'k'));
        account.type = i % 10 == 0 ? OTPType::hotp : OTPType::totp;
        account.counter = quint64(i);
        account.note = QStringLiteral("note %1").arg(i);
        account.useCount = i;
        account.lastUsedAt = account.createdAt;
        accounts.append(account);
    }
    return accounts;
}

void writeBackupOfThousandAccounts(benchmark::State& state) {
    const QList<Account> accounts = makeAccounts(1000);
    for (auto _ : state)
        benchmark::DoNotOptimize(Backup::encrypt(accounts, password));
}
BENCHMARK(writeBackupOfThousandAccounts)->Unit(benchmark::kMillisecond);

void restoreBackupOfThousandAccounts(benchmark::State& state) {
    const QByteArray file = Backup::encrypt(makeAccounts(1000), password);
    for (auto _ : state)
        benchmark::DoNotOptimize(Backup::decrypt(file, password));
    state.counters["file_kib"] = double(file.size()) / 1024.0;
}
BENCHMARK(restoreBackupOfThousandAccounts)->Unit(benchmark::kMillisecond);

void accountsJsonRoundTripOfThousand(benchmark::State& state) {
    const QList<Account> accounts = makeAccounts(1000);
    for (auto _ : state)
        benchmark::DoNotOptimize(Backup::decodeAccounts(Backup::encodeAccounts(accounts)));
}
BENCHMARK(accountsJsonRoundTripOfThousand)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
