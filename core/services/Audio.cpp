#include "core/services/Audio.h"

#include "core/project/Fail.h"
#include "core/project/Text.h"
#include "core/services/Tool.h"
#include "platform/Pieces.h"
#include "platform/TempFile.h"

#include <QFile>
#include <algorithm>
#include <cmath>

namespace Audio {

QCoro::Task<QString> extract(QString video, double start, double duration)
{
    if (!(duration >= shortestCut) || !std::isfinite(duration))
        throw Fail(QStringLiteral("A stretch of sound shorter than a millisecond cannot be cut."));
    const QString wav = TempFiles::make(QStringLiteral("vt-"), QStringLiteral(".wav"));
    // (A recording joined from pieces is read as they join: see Pieces.)
    const QStringList arguments = QStringList{QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                                              QStringLiteral("-y"), QStringLiteral("-ss"), Text::numberWithPoint(start),
                                              QStringLiteral("-t"), Text::numberWithPoint(duration)}
                                  + Pieces::ffmpegInput(video)
                                  + QStringList{QStringLiteral("-vn"), QStringLiteral("-ac"), QStringLiteral("1"),
                                                QStringLiteral("-ar"), QStringLiteral("16000"), QStringLiteral("-c:a"),
                                                QStringLiteral("pcm_s16le"), wav};
    try {
        co_await Tool::run(QStringLiteral("ffmpeg"), arguments);
    } catch (...) {
        // A failed cut may still have left a partial file; nobody else knows its name.
        TempFiles::remove(wav);
        throw;
    }
    co_return wav;
}

QByteArray peaks(const QString& wav)
{
    QFile file(wav);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {};

    // The first "data" tag anywhere, then its 32-bit chunk size (not trusted), then samples
    // to the end of the file.
    const qsizetype tag = bytes.indexOf("data");
    if (tag < 0 || bytes.size() - tag < 8)
        return {};
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData()) + tag + 8;
    const qsizetype samples = (bytes.size() - tag - 8) / 2;

    // One byte for each window start i < samples - 800; the tail after the last such window
    // gets none.
    const qsizetype windows = samples <= samplesPerPeak ? 0 : (samples - 1) / samplesPerPeak;
    QByteArray out(windows, Qt::Uninitialized);
    auto* peak = reinterpret_cast<unsigned char*>(out.data());
    for (qsizetype w = 0; w < windows; ++w) {
        const unsigned char* p = data + w * samplesPerPeak * 2;
        int low = 0, high = 0;
        for (int k = 0; k < samplesPerPeak; ++k) {
            const int s = int(std::int16_t(std::uint16_t(p[2 * k] | (p[2 * k + 1] << 8))));
            low = std::min(low, s);
            high = std::max(high, s);
        }
        // -32768 has the magnitude 32768, which caps at 255 like 32767 does.
        peak[w] = (unsigned char)std::min(255, std::max(high, -low) >> 7);
    }
    return out;
}

} // namespace Audio
