// The main thread's work for one clock tick with 200 accounts listed: every
// row recomputes its code, next code and ring, and what changed on screen is
// repainted.
#include "app/ContentView.h"
#include "app/TickingClock.h"
#include "bench/BenchmarkMain.h"
#include "bench/SampleVault.h"

#include <QApplication>
#include <QMainWindow>
#include <benchmark/benchmark.h>

namespace {

void tickWithAccounts(benchmark::State& state) {
    SampleVault vault(int(state.range(0)));
    QDateTime now = QDateTime::currentDateTimeUtc();
    TickingClock clock([&] { return now; });
    QMainWindow window;
    auto* view = new ContentView(*vault.store, clock, vault.defaults, &window);
    window.setCentralWidget(view);
    window.resize(600, 900);
    window.show();
    QApplication::processEvents();
    for (auto _ : state) {
        now = now.addSecs(1);
        clock.tick();
        // Paints what the tick changed, as the event loop would.
        QApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        QApplication::sendPostedEvents(nullptr, QEvent::UpdateLater);
    }
}
BENCHMARK(tickWithAccounts)->Arg(200)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) { return runOffscreen(argc, argv); }
