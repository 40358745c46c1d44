// How often the program wakes while its main window sits open with 20
// accounts and nothing happens: the times per second the GUI thread's event
// loop went to sleep and something woke it, over ten seconds of the real
// event loop. The codes and countdowns tick once a second, so one wake a
// second is the goal.
// Needs an X server: tests/with-xvfb.sh build/dev/bench/quillet_wake_bench
#include "app/MainWindow.h"
#include "app/TickingClock.h"
#include "bench/BenchmarkMain.h"
#include "bench/SampleVault.h"
#include "system/AppLockMac.h"
#include "system/UpdaterManager.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <benchmark/benchmark.h>

namespace {

// Runs the event loop as the program does (QTest::qWait sleeps in steps of
// its own, which would count).
void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

void wakesWithMainWindowOpen(benchmark::State& state) {
    SampleVault vault(int(state.range(0)));
    TickingClock clock;
    UpdaterManager updater;
    AppLockMac lock(vault.defaults);
    MainWindow window(*vault.store, clock, vault.defaults, updater, lock);
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window)) {
        state.SkipWithError("the main window never became active");
        return;
    }
    runFor(1500); // the first paints and the window's settling
    constexpr int seconds = 10;
    double wakes = 0;
    for (auto _ : state) {
        QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
        QElapsedTimer asleep;
        int sleeps = 0;
        const auto blocking = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock,
                                               [&] { asleep.start(); });
        const auto woken = QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [&] {
            // Slept, rather than only looked for more work.
            if (asleep.isValid() && asleep.nsecsElapsed() > 2'000'000)
                ++sleeps;
            asleep.invalidate();
        });
        QElapsedTimer elapsed;
        elapsed.start();
        runFor(seconds * 1000);
        const double ms = double(elapsed.elapsed());
        // Less the wake of the timer that ends the measurement.
        wakes = double(sleeps - 1) * 1000.0 / ms;
        QObject::disconnect(blocking);
        QObject::disconnect(woken);
    }
    state.counters["wakes_per_s"] = wakes;
}
BENCHMARK(wakesWithMainWindowOpen)->Arg(20)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) { return runBenchmarks(argc, argv); }
