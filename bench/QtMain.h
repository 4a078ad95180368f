#pragma once

// The entry of a benchmark program whose work resumes through Qt's event loop (processes,
// worker-thread jobs), with numbers formatted as everywhere else in the program.

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <clocale>

// The benchmarks the command line asks for, in an application made already.
inline int runBenchmarksIn(int& argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

inline int runBenchmarks(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    return runBenchmarksIn(argc, argv);
}
