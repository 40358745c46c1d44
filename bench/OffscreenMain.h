#pragma once

#include <QApplication>
#include <benchmark/benchmark.h>

// main() of a benchmark whose widgets need no screen: Qt's offscreen platform.
inline int runOffscreen(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
