#include "core/project/Markers.h"
#include "core/project/Text.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <set>

namespace Markers {

std::optional<QString> find(const QString& video)
{
    const QFileInfo recording(video);
    const QString stem = Text::stem(recording.fileName());
    const QString folder = recording.absolutePath();

    std::vector<QString> names, stems;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
        if (Text::extension(name).toLower() == u"csv") {
            names.push_back(name);
            stems.push_back(Text::stem(name));
        }
    }

    std::optional<size_t> best;
    for (size_t i = 0; i < stems.size(); ++i) {
        if (Text::hasPrefix(stem, stems[i]) && (!best || stems[i].size() > stems[*best].size()))
            best = i;
    }
    if (!best && Text::graphemes(stem) >= 10) {
        const QString head = Text::firstGraphemes(stem, 10);
        for (size_t i = 0; i < stems.size() && !best; ++i) {
            if (Text::hasPrefix(stems[i], head))
                best = i;
        }
    }
    if (!best)
        return std::nullopt;
    return folder + u'/' + names[*best];
}

namespace {
std::optional<double> time(QStringView line)
{
    const qsizetype comma = line.indexOf(u',');
    const QStringView field = comma < 0 ? line : line.left(comma);
    double value = 0;
    int pieces = 0;
    for (QStringView piece : field.split(u':', Qt::SkipEmptyParts)) {
        if (++pieces > 3)
            return std::nullopt;
        const auto number = Text::decimal(Text::trimSpacesTabs(piece));
        if (!number)
            return std::nullopt;
        value = value * 60 + *number;
    }
    if (pieces == 0 || !std::isfinite(value))
        return std::nullopt;
    return value;
}
} // namespace

std::vector<double> parse(QStringView text)
{
    std::vector<double> times;
    for (const QString& line : Text::lines(text)) {
        if (line.isEmpty())
            continue;
        if (const auto t = time(line))
            times.push_back(*t);
    }
    return times;
}

std::vector<Segment> segments(std::vector<double> marks, double before, double after, double duration)
{
    std::vector<Segment> out;
    if (marks.empty() || !(duration > 0))
        return out;
    std::stable_sort(marks.begin(), marks.end());
    for (double m : marks) {
        const double lo = std::max(m - before, 0.0);
        const double hi = std::min(m + after, duration);
        if (!(lo < hi))
            continue;
        if (!out.empty() && lo <= out.back().end) {
            out.back().end = std::max(out.back().end, hi);
            out.back().markers.push_back(m);
        } else {
            Segment s;
            s.start = lo;
            s.end = hi;
            s.markers = {m};
            out.push_back(std::move(s));
        }
    }
    for (size_t i = 0; i < out.size(); ++i)
        out[i].id = QString::asprintf("%02d", int(i + 1));
    return out;
}

QString nextID(double t, const std::vector<Segment>& among)
{
    const Segment* last = nullptr;
    for (const Segment& s : among) {
        if (s.start <= t && (!last || s.start > last->start))
            last = &s;
    }
    QString base = QStringLiteral("00");
    if (last) {
        base.clear();
        for (QChar c : last->id) {
            if (!c.isNumber())
                break;
            base += c;
        }
    }
    std::set<QString> taken;
    for (const Segment& s : among)
        taken.insert(s.id);
    for (char16_t letter = u'a'; letter <= u'z'; ++letter) {
        const QString id = base + QChar(letter);
        if (!taken.count(id))
            return id;
    }
    // Every letter is used: number past them, and keep counting if that name is taken too.
    for (size_t n = taken.size();; ++n) {
        const QString id = base + u'z' + QString::number(n);
        if (!taken.count(id))
            return id;
    }
}

namespace {
void clearSummary(Segment& s)
{
    s.title.clear();
    s.summary.clear();
    s.energy.clear();
    s.kind.clear();
    s.unsure.clear();
    s.keyLine.reset();
}
} // namespace

std::pair<Segment, Segment> split(const Segment& segment, double t, const std::vector<Segment>& among)
{
    Segment first = segment, second = segment;
    second.id = nextID(t, among);
    first.end = t;
    second.start = t;

    if (segment.lines) {
        first.lines.emplace();
        second.lines.emplace();
        for (const Line& line : *segment.lines)
            ((line.t0 + line.t1) / 2 < t ? *first.lines : *second.lines).push_back(line);
    }
    if (segment.peaks) {
        const double raw = (t - segment.start) * 20;
        const qsizetype held = segment.peaks->size();
        const qsizetype n = !(raw > 0) ? 0 : raw >= double(held) ? held : qsizetype(raw);
        first.peaks = segment.peaks->left(n);
        second.peaks = segment.peaks->mid(n);
    }
    first.markers.clear();
    second.markers.clear();
    for (double m : segment.markers)
        (m < t ? first.markers : second.markers).push_back(m);

    clearSummary(first);
    clearSummary(second);
    second.manual = true;
    return {std::move(first), std::move(second)};
}

Segment join(const Segment& a, const Segment& b)
{
    Segment out = a;
    out.end = b.end;
    // When only one half was transcribed, the joined segment counts as untranscribed,
    // so the whole of it is transcribed again instead of keeping half its speech.
    if (a.lines && b.lines) {
        out.lines->insert(out.lines->end(), b.lines->begin(), b.lines->end());
    } else {
        out.lines.reset();
    }
    if (a.peaks && b.peaks)
        out.peaks = *a.peaks + *b.peaks;
    else
        out.peaks.reset();
    out.markers.insert(out.markers.end(), b.markers.begin(), b.markers.end());
    clearSummary(out);
    out.error.reset();
    if (!(a.rating && b.rating && *a.rating == *b.rating))
        out.rating.reset();
    if (a.waiting.value_or(false) || b.waiting.value_or(false))
        out.waiting = true;
    else
        out.waiting.reset();
    return out;
}

} // namespace Markers
