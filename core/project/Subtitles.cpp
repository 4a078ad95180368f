#include "core/project/Subtitles.h"
#include "core/project/Text.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace Subtitles {

QString stamp(double seconds)
{
    double rounded = std::round(seconds * 1000); // halves away from zero
    if (!(rounded > 0))
        rounded = 0;
    const qint64 ms = rounded >= 9.2e18 ? std::numeric_limits<qint64>::max() : qint64(rounded);
    return QString::asprintf("%02lld:%02d:%02d,%03d", static_cast<long long>(ms / 3600000),
                             int((ms / 60000) % 60), int((ms / 1000) % 60), int(ms % 1000));
}

QString srt(const Short& s, const Project& project)
{
    static const QRegularExpression bracketed(QStringLiteral("\\[[^\\]]*\\]"));
    QString out;
    int counter = 0;
    double offset = 0;
    for (const Cut& cut : s.cuts) {
        for (const Segment& segment : project.segments) {
            if (!segment.lines)
                continue;
            for (const Line& line : *segment.lines) {
                if (!(line.t1 > cut.start + 0.05 && line.t0 < cut.end - 0.05))
                    continue;
                QString text = line.text;
                text.replace(bracketed, QStringLiteral(" "));
                text = Text::trimSpacesTabs(text);
                if (text.isEmpty())
                    continue;
                ++counter;
                out += QString::number(counter) + u'\n';
                out += stamp(offset + std::max(line.t0, cut.start) - cut.start) + QStringLiteral(" --> ")
                    + stamp(offset + std::min(line.t1, cut.end) - cut.start) + u'\n';
                out += text + QStringLiteral("\n\n");
            }
        }
        offset += cut.end - cut.start;
    }
    return out;
}

} // namespace Subtitles
