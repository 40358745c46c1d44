// How long the program stops answering while codes are copied from the tray's
// panel with the security checkup open over a vault of 2,000 accounts, none
// with recovery codes (2,000 findings, one card each): the longest gap
// between two turns of the event loop over 20 copies, each followed by the
// event loop's own turns. A copy counts a use, which changes no finding.
#include "app/TickingClock.h"
#include "bench/BenchmarkMain.h"
#include "bench/SampleVault.h"
#include "bench/StallMeter.h"
#include "menubar/MenuBarContent.h"
#include "menubar/SecurityCheckupMacView.h"
#include "system/AppLockMac.h"
#include "system/AppSettings.h"
#include "system/UpdaterManager.h"

#include <QApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>

namespace {

// Runs the event loop until it has turned freely for half a second (the
// checkup's first layout of thousands of cards done), at most 60 s.
void settle() {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 60000) {
        StallMeter meter;
        QElapsedTimer window;
        window.start();
        while (window.elapsed() < 500)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        if (meter.longestMs() < 20) return;
    }
}

void runEventsFor(int ms) {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

void copiesWithTheCheckupOpen(benchmark::State& state) {
    const int count = int(state.range(0));
    SampleVault vault(count);
    TickingClock clock;
    AppSettings settings(vault.defaults);
    AppLockMac lock(vault.defaults);
    UpdaterManager updater;
    SecurityCheckupMacView checkup(*vault.store);
    checkup.resize(480, 540);
    checkup.show();
    MenuBarContent panel(*vault.store, clock, settings, lock, updater, vault.defaults);
    panel.prepareToShow();
    panel.show();
    settle();
    if (checkup.cards().size() < count) {
        state.SkipWithError("the checkup shows fewer findings than accounts");
        return;
    }
    const QList<Account> accounts = vault.store->accounts();
    qint64 longest = 0;
    for (auto _ : state) {
        StallMeter meter;
        for (int i = 0; i < 20; ++i) {
            panel.copy(accounts[i % accounts.size()]);
            runEventsFor(10);
        }
        longest = std::max(longest, meter.longestMs());
    }
    state.counters["longest_stall_ms"] = double(longest);
}
BENCHMARK(copiesWithTheCheckupOpen)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv) { return runOffscreen(argc, argv); }
