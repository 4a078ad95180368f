#include "views/windows/Stops.h"

#include <map>

namespace {

struct Entry {
    int ticket = 0;
    Cancel cancel;
};

std::map<QString, Entry>& entries()
{
    static std::map<QString, Entry> map;
    return map;
}

} // namespace

namespace Stops {

int hold(const QString& kind, const Cancel& cancel)
{
    static int last = 0;
    entries()[kind] = {++last, cancel};
    return last;
}

void release(const QString& kind, int ticket)
{
    const auto found = entries().find(kind);
    if (found != entries().end() && found->second.ticket == ticket)
        entries().erase(found);
}

std::optional<Cancel> held(const QString& kind)
{
    const auto found = entries().find(kind);
    if (found == entries().end())
        return std::nullopt;
    return found->second.cancel;
}

} // namespace Stops
