#pragma once

#include <QApplication>
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

// main() of a benchmark whose widgets need no screen: Qt's offscreen platform.
inline int runOffscreen(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return runBenchmarks(argc, argv);
}
