// Time of one full vault load (migrations, read, decode, order) with 500
// accounts on each keychain backend. The Secret Service case needs a session
// bus with a keyring: run it through tests/with-session.sh.
#include "core/KeychainStore.h"
#include "platform/crypto/Crypto.h"
#include "platform/keychain/KeychainFile.h"
#include "platform/keychain/KeychainSecretService.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

void fillVault(int count) {
    QList<QUuid> order;
    for (int i = 0; i < count; ++i) {
        Account account;
        account.issuer = QStringLiteral("Service %1").arg(i);
        account.name = QStringLiteral("user%1@example.com").arg(i);
        account.secret = Crypto::randomBytes(20).value_or(QByteArray(20, 'k'));
        KeychainStore::saveAccount(account);
        order.append(account.id);
    }
    KeychainStore::saveOrder(order);
}

void loadAllOf(benchmark::State& state, std::shared_ptr<Keychain::Backend> backend) {
    Keychain::setBackend(backend);
    KeychainStore::resetMigrationFlagForTesting();
    fillVault(int(state.range(0)));
    for (auto _ : state) {
        const auto vault = KeychainStore::loadAll();
        if (vault.active.size() != state.range(0))
            state.SkipWithError("the vault did not load whole");
    }
    // Leave the keyring as it was found.
    for (const Keychain::Item& item : KeychainStore::readAll())
        Keychain::remove(KeychainStore::baseQuery(item.account));
}

void memoryBackend(benchmark::State& state) {
    loadAllOf(state, std::make_shared<Keychain::MemoryBackend>());
}
BENCHMARK(memoryBackend)->Arg(500)->Unit(benchmark::kMillisecond);

void fileBackend(benchmark::State& state) {
    QTemporaryDir folder;
    loadAllOf(state, std::make_shared<Keychain::FileBackend>(folder.filePath("keychain.json")));
}
BENCHMARK(fileBackend)->Arg(500)->Unit(benchmark::kMillisecond);

void secretServiceBackend(benchmark::State& state) {
    if (!Keychain::SecretServiceBackend::isAvailable()) {
        state.SkipWithError("no Secret Service on the session bus");
        return;
    }
    loadAllOf(state, std::make_shared<Keychain::SecretServiceBackend>());
}
BENCHMARK(secretServiceBackend)->Arg(500)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
