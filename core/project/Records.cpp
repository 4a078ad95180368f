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

// Each record's keys, in declaration order, once for both ways of writing it.

template <class Out>
void fields(Out& o, const Line& v)
{
    o("t0", v.t0);
    o("t1", v.t1);
    o("text", v.text);
}

template <class Out>
void fields(Out& o, const Cut& v)
{
    o("id", v.id);
    o("start", v.start);
    o("end", v.end);
    o("role", v.role);
}

template <class Out>
void fields(Out& o, const Short& v)
{
    o("id", v.id);
    o("title", v.title);
    o("idea", v.idea);
    o("cuts", v.cuts);
    o("closed", v.closed);
}

template <class Out>
void fields(Out& o, const Idea& v)
{
    o("id", v.id);
    o("title", v.title);
    o("hook", v.hook);
    o("format", v.format);
    o("why", v.why);
    o("cuts", v.cuts);
}

template <class Out>
void fields(Out& o, const Segment& v)
{
    o("id", v.id);
    o("start", v.start);
    o("end", v.end);
    o("markers", v.markers);
    o("lines", v.lines);
    o("peaks", v.peaks);
    o("title", v.title);
    o("summary", v.summary);
    o("energy", v.energy);
    o("kind", v.kind);
    o("unsure", v.unsure);
    o("keyLine", v.keyLine);
    o("error", v.error);
    o("rating", v.rating);
    o("manual", v.manual);
    o("waiting", v.waiting);
}

template <class Out>
void fields(Out& o, const Project& v)
{
    o("format", v.format);
    o("video", v.video);
    o("markersName", v.markersName);
    o("markersCSV", v.markersCSV);
    o("note", v.note);
    o("before", v.before);
    o("after", v.after);
    o("duration", v.duration);
    o("markerCount", v.markerCount);
    o("segments", v.segments);
    o("ideas", v.ideas);
    o("shorts", v.shorts);
    o("analyzed", v.analyzed);
    o("ideated", v.ideated);
    o("autoTranscribe", v.autoTranscribe);
    o("autoSummarize", v.autoSummarize);
    o("autoIdeas", v.autoIdeas);
}

Json write(const Line& v)
{
    Json o = Json::object();
    TreeFields tree{o};
    fields(tree, v);
    return o;
}

void write(Writer& out, const Line& v)
{
    out.object([&v](Writer::Fields& o) { fields(o, v); });
}

Json write(const Cut& v)
{
    Json o = Json::object();
    TreeFields tree{o};
    fields(tree, v);
    return o;
}

void write(Writer& out, const Cut& v)
{
    out.object([&v](Writer::Fields& o) { fields(o, v); });
}

Json write(const Short& v)
{
    Json o = Json::object();
    TreeFields tree{o};
    fields(tree, v);
    return o;
}

void write(Writer& out, const Short& v)
{
    out.object([&v](Writer::Fields& o) { fields(o, v); });
}

Json write(const Idea& v)
{
    Json o = Json::object();
    TreeFields tree{o};
    fields(tree, v);
    return o;
}

void write(Writer& out, const Idea& v)
{
    out.object([&v](Writer::Fields& o) { fields(o, v); });
}

Json write(const Segment& v)
{
    Json o = Json::object();
    TreeFields tree{o};
    fields(tree, v);
    return o;
}

void write(Writer& out, const Segment& v)
{
    out.object([&v](Writer::Fields& o) { fields(o, v); });
}

Json write(const Project& v)
{
    Json o = Json::object();
    TreeFields tree{o};
    fields(tree, v);
    return o;
}

void write(Writer& out, const Project& v)
{
    out.object([&v](Writer::Fields& o) { fields(o, v); });
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
