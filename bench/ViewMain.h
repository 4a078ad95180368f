#pragma once

// The entry of a benchmark program that paints views: offscreen, the fixed font and the
// dark scheme the screenshots use, preferences in a folder of their own, numbers
// formatted as everywhere else in the program.

#include "views/kit/Style.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <clocale>

inline int runViewBenchmarks(int argc, char** argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    Style::useFixedFont();
    Style::apply(app, Style::Scheme::dark);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
