// Time to verify a security timeline of 100,000 entries, the work every
// snapshot of the timeline screen does on a long-lived vault.
#include "core/SecurityLog.h"

#include <benchmark/benchmark.h>

namespace {

QList<AuditEntry> makeChain(int count) {
    QList<AuditEntry> chain;
    chain.reserve(count);
    for (int i = 0; i < count; ++i)
        chain.append(AuditLog::makeEntry(chain, QStringLiteral("account.edited"),
                                         QStringLiteral("Service %1: user").arg(i % 1000),
                                         1700000000000 + i));
    return chain;
}

void verifyHundredThousandEntries(benchmark::State& state) {
    const QList<AuditEntry> chain = makeChain(100000);
    for (auto _ : state) {
        const bool intact = AuditLog::verify(chain);
        benchmark::DoNotOptimize(intact);
        if (!intact) state.SkipWithError("the chain does not verify");
    }
}
BENCHMARK(verifyHundredThousandEntries)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
