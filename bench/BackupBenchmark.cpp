// Writing and restoring a backup of 1,000 accounts: the time between the
// user's click and the file (or the restored list). Both directions run one
// 150,000-round key derivation, which dominates; the JSON part is measured
// on its own to show what grows with the vault.
#include "bench/SampleAccounts.h"
#include "intake/Backup.h"

#include <benchmark/benchmark.h>

namespace {

const QString password = QStringLiteral("bench password");

QList<Account> makeAccounts(int count) {
    QList<Account> accounts = randomSampleAccounts(count);
    for (int i = 0; i < count; ++i) {
        Account& account = accounts[i];
        account.type = i % 10 == 0 ? OTPType::hotp : OTPType::totp;
        account.counter = quint64(i);
        account.note = QStringLiteral("note %1").arg(i);
        account.useCount = i;
        account.lastUsedAt = account.createdAt;
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
