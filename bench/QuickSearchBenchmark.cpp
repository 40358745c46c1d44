// Ranking the whole vault for what the user typed into the quick-search
// panel: it runs from scratch for every keystroke and redraw.
#include "system/QuickLauncherRanking.h"

#include <benchmark/benchmark.h>

namespace {

const char* const issuers[] = {"GitHub", "Google", "Microsoft", "Amazon Web Services", "Dropbox",
                               "Slack", "Bank of Example", "Proton", "Mastodon", "Cloudflare"};

QList<Account> vault(int count) {
    QList<Account> accounts;
    for (int i = 0; i < count; ++i) {
        Account account;
        account.issuer = QStringLiteral("%1 %2").arg(QLatin1String(issuers[i % 10])).arg(i / 10);
        account.name = QStringLiteral("user%1@example.com").arg(i);
        accounts.append(account);
    }
    return accounts;
}

// A three-letter query that many accounts contain (the usual case).
void threeLetters(benchmark::State& state) {
    const QList<Account> accounts = vault(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(QuickLauncherRanking::results(QStringLiteral("git"), accounts));
}
BENCHMARK(threeLetters)->Arg(1000)->Unit(benchmark::kMicrosecond);

// Three letters that no field contains, so every account is scored fuzzily.
void threeLettersFuzzy(benchmark::State& state) {
    const QList<Account> accounts = vault(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(QuickLauncherRanking::results(QStringLiteral("gbx"), accounts));
}
BENCHMARK(threeLettersFuzzy)->Arg(1000)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
