// Decoding and encoding a large project, and parsing a long marker file.

#include "bench/LargeProject.h"
#include "core/project/Markers.h"
#include "core/project/Records.h"

#include <benchmark/benchmark.h>

namespace {

void encodeProject(benchmark::State& state)
{
    const Project p = largeProject();
    size_t bytes = 0;
    for (auto _ : state) {
        const QByteArray text = json::encode(p);
        bytes = size_t(text.size());
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}
BENCHMARK(encodeProject)->Unit(benchmark::kMillisecond);

// The yardstick for encodeProject: the library's own compact dump of the same document,
// already built as a tree, with nothing of ours around it.
void rawDumpOfProject(benchmark::State& state)
{
    const Json tree = json::write(largeProject());
    size_t bytes = 0;
    for (auto _ : state) {
        const std::string text = tree.dump();
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}
BENCHMARK(rawDumpOfProject)->Unit(benchmark::kMillisecond);

void decodeProject(benchmark::State& state)
{
    const QByteArray text = json::dumpBytes(json::write(largeProject()));
    for (auto _ : state) {
        Project p;
        json::read(json::parse(text), p);
        benchmark::DoNotOptimize(p.segments.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * text.size());
}
BENCHMARK(decodeProject)->Unit(benchmark::kMillisecond);

void parseMarkers(benchmark::State& state)
{
    QString csv = QStringLiteral("Marker,Time,Note\r\n");
    for (int i = 0; i < 10000; ++i)
        csv += QStringLiteral("%1:%2:%3,Marker %4,something happened\r\n")
                   .arg(i / 3600)
                   .arg((i / 60) % 60, 2, 10, QChar(u'0'))
                   .arg(i % 60, 2, 10, QChar(u'0'))
                   .arg(i);
    for (auto _ : state) {
        auto times = Markers::parse(csv);
        benchmark::DoNotOptimize(times.data());
    }
}
BENCHMARK(parseMarkers)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
