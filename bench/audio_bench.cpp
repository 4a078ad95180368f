// Waveform peaks of an hour of sound, against merely reading the same WAV file from disk.

#include "core/services/Audio.h"

#include <QFile>
#include <QTemporaryFile>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

constexpr qint64 hourOfSamples = 3600LL * 16000;

// A one-hour 16 kHz mono 16-bit WAV (about 115 MB), written once for the whole run and
// removed when the program ends.
class HourOfSound : public benchmark::Fixture {
public:
    void SetUp(const benchmark::State&) override { path(); }

protected:
    static QString path()
    {
        static const std::unique_ptr<QTemporaryFile> file = make();
        return file ? file->fileName() : QString();
    }

private:
    static std::unique_ptr<QTemporaryFile> make()
    {
        auto file = std::make_unique<QTemporaryFile>();
        if (!file->open())
            return nullptr;
        auto le32 = [](quint32 v) {
            const char b[4] = {char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff), char(v >> 24)};
            return QByteArray(b, 4);
        };
        const quint32 dataSize = quint32(hourOfSamples * 2);
        file->write("RIFF" + le32(36 + dataSize) + "WAVEfmt " + le32(16)
                    + QByteArray::fromHex("01000100803e0000007d000002001000") + "data" + le32(dataSize));
        // Noise under a slow swell, one second at a time.
        QByteArray second(16000 * 2, Qt::Uninitialized);
        quint32 seed = 12345;
        for (qint64 s = 0; s < hourOfSamples / 16000; ++s) {
            const int loudness = 1 + int(s % 97) * 330;
            for (int k = 0; k < 16000; ++k) {
                seed = seed * 1664525u + 1013904223u;
                const qint16 v = qint16(int(seed >> 16) % (2 * loudness) - loudness);
                second[2 * k] = char(quint16(v) & 0xff);
                second[2 * k + 1] = char(quint16(v) >> 8);
            }
            file->write(second);
        }
        file->flush();
        return file;
    }
};

BENCHMARK_DEFINE_F(HourOfSound, peaks)(benchmark::State& state)
{
    for (auto _ : state) {
        const QByteArray peaks = Audio::peaks(path());
        benchmark::DoNotOptimize(peaks.data());
    }
    state.SetBytesProcessed(state.iterations() * (hourOfSamples * 2 + 44));
}
BENCHMARK_REGISTER_F(HourOfSound, peaks)->Unit(benchmark::kMillisecond);

// The floor under `peaks`: reading the file whole, nothing more.
BENCHMARK_DEFINE_F(HourOfSound, readOnly)(benchmark::State& state)
{
    for (auto _ : state) {
        QFile file(path());
        if (!file.open(QIODevice::ReadOnly)) {
            state.SkipWithError("cannot read the WAV file");
            break;
        }
        const QByteArray bytes = file.readAll();
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(state.iterations() * (hourOfSamples * 2 + 44));
}
BENCHMARK_REGISTER_F(HourOfSound, readOnly)->Unit(benchmark::kMillisecond);

} // namespace
