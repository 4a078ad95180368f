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

namespace {

// Segments added by hand may overlap others and hold another transcript of the same
// speech. Where segments overlap, the first in the project's order that has lines speaks,
// as elsewhere in the program: a line of a later segment is left out when it reaches into
// an earlier segment that overlaps its own and has lines. Segments that only touch (the
// halves of a split) overlap in no speech, so a line across their edge stays.
std::vector<std::vector<const Line*>> spokenLines(const std::vector<Segment>& segments)
{
    std::vector<std::vector<const Line*>> spoken(segments.size());
    for (size_t j = 0; j < segments.size(); ++j) {
        const Segment& later = segments[j];
        if (!later.lines)
            continue;
        std::vector<const Segment*> earlier;
        for (size_t i = 0; i < j; ++i) {
            const Segment& s = segments[i];
            if (s.lines && !s.lines->empty() && s.start < later.end && later.start < s.end)
                earlier.push_back(&s);
        }
        for (const Line& line : *later.lines) {
            const bool heard = std::any_of(earlier.begin(), earlier.end(), [&](const Segment* s) {
                return line.t1 > s->start && line.t0 < s->end;
            });
            if (!heard)
                spoken[j].push_back(&line);
        }
    }
    return spoken;
}

} // namespace

QString srt(const Short& s, const Project& project)
{
    static const QRegularExpression bracketed(QStringLiteral("\\[[^\\]]*\\]"));
    const auto spoken = spokenLines(project.segments);
    QString out;
    int counter = 0;
    double offset = 0;
    for (const Cut& cut : s.cuts) {
        for (const std::vector<const Line*>& lines : spoken) {
            for (const Line* line : lines) {
                if (!(line->t1 > cut.start + 0.05 && line->t0 < cut.end - 0.05))
                    continue;
                QString text = line->text;
                text.replace(bracketed, QStringLiteral(" "));
                text = Text::trimSpacesTabs(text);
                if (text.isEmpty())
                    continue;
                ++counter;
                out += QString::number(counter) + u'\n';
                out += stamp(offset + std::max(line->t0, cut.start) - cut.start) + QStringLiteral(" --> ")
                    + stamp(offset + std::min(line->t1, cut.end) - cut.start) + u'\n';
                out += text + QStringLiteral("\n\n");
            }
        }
        offset += cut.end - cut.start;
    }
    return out;
}

} // namespace Subtitles
