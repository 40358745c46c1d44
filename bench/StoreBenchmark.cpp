// Merging 1,000 new accounts into the vault: duplicate checks, keychain
// writes of every account and of the order, and the timeline event; and a
// restore of 50,000 accounts into an empty vault on the file backend.
#include "bench/SampleAccounts.h"
#include "core/AccountStore.h"
#include "core/KeychainStore.h"
#include "core/SecurityLog.h"
#include "platform/files/UserDefaults.h"
#include "platform/keychain/KeychainFile.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

void importInto(benchmark::State& state, bool onFile) {
    const QList<Account> accounts = randomSampleAccounts(int(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir folder;
        if (onFile)
            Keychain::setBackend(
                std::make_shared<Keychain::FileBackend>(folder.filePath("keychain.json")));
        else
            Keychain::setBackend(std::make_shared<Keychain::MemoryBackend>());
        KeychainStore::resetMigrationFlagForTesting();
        UserDefaults defaults(folder.filePath("settings.conf"));
        SecurityLog log(folder.filePath("timeline.jsonl"));
        AccountStore store(defaults, log);
        state.ResumeTiming();
        if (store.importAccounts(accounts) != accounts.size())
            state.SkipWithError("not every account was accepted");
        state.PauseTiming();
        log.waitForIdle();
        state.ResumeTiming();
    }
}

void importInMemory(benchmark::State& state) { importInto(state, false); }
BENCHMARK(importInMemory)->Arg(1000)->Unit(benchmark::kMillisecond);

void importOnFile(benchmark::State& state) { importInto(state, true); }
BENCHMARK(importOnFile)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);
// A restore of a large backup on the file backend: one batch of 50,000
// accounts, which the backend stores without scanning all items for each.
void restoreOnFile(benchmark::State& state) { importInto(state, true); }
BENCHMARK(restoreOnFile)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
