#include "core/project/Activity.h"

namespace json {

namespace {
Json payload(std::initializer_list<std::pair<const char*, Json>> items)
{
    Json o = Json::object();
    for (const auto& [key, value] : items)
        o[key] = value;
    return o;
}
} // namespace

Json write(const Rerun& v)
{
    Json o = Json::object();
    std::visit(
        [&](const auto& c) {
            using C = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<C, Rerun::Transcribe>)
                o["transcribe"] = payload({{"_0", write(c.segment)}, {"_1", write(c.engine)}});
            else if constexpr (std::is_same_v<C, Rerun::Summarize>)
                o["summarize"] = payload({{"_0", write(c.segments)}});
            else if constexpr (std::is_same_v<C, Rerun::Ideas>)
                o["ideas"] = Json::object();
            else
                o["ask"] = payload({{"_0", write(c.instruction)}, {"_1", write(c.segments)}});
        },
        v.value);
    return o;
}

void read(const Json& j, Rerun& out)
{
    const Json& o = object(j);
    static const char* const cases[] = {"transcribe", "summarize", "ideas", "ask"};
    const char* found = nullptr;
    int count = 0;
    for (const char* name : cases) {
        if (o.contains(name)) {
            found = name;
            ++count;
        }
    }
    if (count != 1)
        throw Fail(QStringLiteral("Invalid number of keys found, expected one."));
    const Json& body = object(o.at(found));
    const std::string name = found;
    if (name == "transcribe") {
        Rerun::Transcribe c;
        need(body, "_0", c.segment);
        need(body, "_1", c.engine);
        out.value = c;
    } else if (name == "summarize") {
        Rerun::Summarize c;
        need(body, "_0", c.segments);
        out.value = c;
    } else if (name == "ideas") {
        out.value = Rerun::Ideas{};
    } else {
        Rerun::Ask c;
        need(body, "_0", c.instruction);
        need(body, "_1", c.segments);
        out.value = c;
    }
}

Json write(const Job& v)
{
    Json o = Json::object();
    put(o, "id", v.id);
    put(o, "kind", v.kind);
    put(o, "title", v.title);
    put(o, "detail", v.detail);
    put(o, "engine", v.engine);
    put(o, "started", v.started);
    put(o, "ended", v.ended);
    put(o, "state", v.state);
    put(o, "cost", v.cost);
    put(o, "error", v.error);
    put(o, "request", v.request);
    put(o, "reply", v.reply);
    put(o, "rerun", v.rerun);
    return o;
}

void read(const Json& j, Job& out)
{
    const Json& o = object(j);
    need(o, "id", out.id);
    need(o, "kind", out.kind);
    need(o, "title", out.title);
    need(o, "detail", out.detail);
    need(o, "engine", out.engine);
    need(o, "started", out.started);
    maybe(o, "ended", out.ended);
    need(o, "state", out.state);
    maybe(o, "cost", out.cost);
    maybe(o, "error", out.error);
    maybe(o, "request", out.request);
    maybe(o, "reply", out.reply);
    maybe(o, "rerun", out.rerun);
}

} // namespace json
