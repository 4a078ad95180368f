#include "core/project/Records.h"

#include <cmath>
#include <limits>

double Short::duration() const
{
    double total = 0;
    for (const Cut& cut : cuts)
        total += cut.end - cut.start;
    return total;
}

const Segment* Project::segment(double t) const
{
    for (const Segment& s : segments) {
        if (s.start - 0.001 <= t && t <= s.end + 0.001)
            return &s;
    }
    return nullptr;
}

QString clock(double seconds)
{
    // Not-a-number reads as 0; huge values stop at the largest whole second.
    double whole = std::isnan(seconds) ? 0 : std::trunc(seconds);
    if (whole < 0)
        whole = 0;
    const qint64 s = whole >= 9.2e18 ? std::numeric_limits<qint64>::max() : qint64(whole);
    return QString::asprintf("%lld:%02d:%02d", static_cast<long long>(s / 3600),
                             int((s % 3600) / 60), int(s % 60));
}

namespace json {

Json write(const Line& v)
{
    Json o = Json::object();
    put(o, "t0", v.t0);
    put(o, "t1", v.t1);
    put(o, "text", v.text);
    return o;
}

Json write(const Cut& v)
{
    Json o = Json::object();
    put(o, "id", v.id);
    put(o, "start", v.start);
    put(o, "end", v.end);
    put(o, "role", v.role);
    return o;
}

Json write(const Short& v)
{
    Json o = Json::object();
    put(o, "id", v.id);
    put(o, "title", v.title);
    put(o, "idea", v.idea);
    put(o, "cuts", v.cuts);
    put(o, "closed", v.closed);
    return o;
}

Json write(const Idea& v)
{
    Json o = Json::object();
    put(o, "id", v.id);
    put(o, "title", v.title);
    put(o, "hook", v.hook);
    put(o, "format", v.format);
    put(o, "why", v.why);
    put(o, "cuts", v.cuts);
    return o;
}

Json write(const Segment& v)
{
    Json o = Json::object();
    put(o, "id", v.id);
    put(o, "start", v.start);
    put(o, "end", v.end);
    put(o, "markers", v.markers);
    put(o, "lines", v.lines);
    put(o, "peaks", v.peaks);
    put(o, "title", v.title);
    put(o, "summary", v.summary);
    put(o, "energy", v.energy);
    put(o, "kind", v.kind);
    put(o, "unsure", v.unsure);
    put(o, "keyLine", v.keyLine);
    put(o, "error", v.error);
    put(o, "rating", v.rating);
    put(o, "manual", v.manual);
    put(o, "waiting", v.waiting);
    return o;
}

Json write(const Project& v)
{
    Json o = Json::object();
    put(o, "format", v.format);
    put(o, "video", v.video);
    put(o, "markersName", v.markersName);
    put(o, "markersCSV", v.markersCSV);
    put(o, "note", v.note);
    put(o, "before", v.before);
    put(o, "after", v.after);
    put(o, "duration", v.duration);
    put(o, "markerCount", v.markerCount);
    put(o, "segments", v.segments);
    put(o, "ideas", v.ideas);
    put(o, "shorts", v.shorts);
    put(o, "analyzed", v.analyzed);
    put(o, "ideated", v.ideated);
    put(o, "autoTranscribe", v.autoTranscribe);
    put(o, "autoSummarize", v.autoSummarize);
    put(o, "autoIdeas", v.autoIdeas);
    return o;
}

void read(const Json& j, Line& out)
{
    const Json& o = object(j);
    need(o, "t0", out.t0);
    need(o, "t1", out.t1);
    need(o, "text", out.text);
}

void read(const Json& j, Cut& out)
{
    const Json& o = object(j);
    need(o, "id", out.id);
    need(o, "start", out.start);
    need(o, "end", out.end);
    need(o, "role", out.role);
}

void read(const Json& j, Short& out)
{
    const Json& o = object(j);
    need(o, "id", out.id);
    need(o, "title", out.title);
    maybe(o, "idea", out.idea);
    need(o, "cuts", out.cuts);
    maybe(o, "closed", out.closed);
}

void read(const Json& j, Idea& out)
{
    const Json& o = object(j);
    need(o, "id", out.id);
    need(o, "title", out.title);
    need(o, "hook", out.hook);
    need(o, "format", out.format);
    need(o, "why", out.why);
    need(o, "cuts", out.cuts);
}

void read(const Json& j, Segment& out)
{
    const Json& o = object(j);
    need(o, "id", out.id);
    need(o, "start", out.start);
    need(o, "end", out.end);
    need(o, "markers", out.markers);
    maybe(o, "lines", out.lines);
    maybe(o, "peaks", out.peaks);
    need(o, "title", out.title);
    need(o, "summary", out.summary);
    need(o, "energy", out.energy);
    need(o, "kind", out.kind);
    need(o, "unsure", out.unsure);
    maybe(o, "keyLine", out.keyLine);
    maybe(o, "error", out.error);
    maybe(o, "rating", out.rating);
    maybe(o, "manual", out.manual);
    maybe(o, "waiting", out.waiting);
}

void read(const Json& j, Project& out)
{
    const Json& o = object(j);
    need(o, "format", out.format);
    need(o, "video", out.video);
    need(o, "markersName", out.markersName);
    need(o, "markersCSV", out.markersCSV);
    need(o, "note", out.note);
    need(o, "before", out.before);
    need(o, "after", out.after);
    need(o, "duration", out.duration);
    need(o, "markerCount", out.markerCount);
    need(o, "segments", out.segments);
    need(o, "ideas", out.ideas);
    need(o, "shorts", out.shorts);
    need(o, "analyzed", out.analyzed);
    maybe(o, "ideated", out.ideated);
    maybe(o, "autoTranscribe", out.autoTranscribe);
    maybe(o, "autoSummarize", out.autoSummarize);
    maybe(o, "autoIdeas", out.autoIdeas);
}

} // namespace json
