#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>

// main() of a benchmark with widgets, on the screen Qt is given (Xvfb for the
// benchmarks that measure a real X server).
inline int runBenchmarks(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Runs the event loop until `done()` holds, for `limitMs` at most; whether it
// came. It never sleeps between looks, so a measured moment ends at the
// event loop's next turn, not at a coarse poll's next tick.
template <typename Condition> bool waitUntil(Condition done, int limitMs = 60000) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > limitMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Runs the event loop for `ms` (what was shown drawn, what was started
// settled).
inline void runEventsFor(int ms) {
    waitUntil([] { return false; }, ms);
}

// main() of a benchmark whose widgets need no screen: Qt's offscreen platform.
inline int runOffscreen(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return runBenchmarks(argc, argv);
}
