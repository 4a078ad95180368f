#pragma once

// Finding Shorts, cuts and segments by id inside the project, for the editing operations.
// Each finds the first match, as ids are meant to be unique but stored files may repeat one.

#include "core/project/Records.h"
#include "model/editing/Composition.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace lookup {

// The first element whose id equals `id`, or null. Works on const and mutable lists.
template <class List, class Id>
auto byId(List& list, const Id& id) -> decltype(&*list.begin())
{
    const auto found = std::find_if(list.begin(), list.end(), [&](const auto& item) { return item.id == id; });
    return found == list.end() ? nullptr : &*found;
}

template <class List, class Id>
auto byId(List& list, const std::optional<Id>& id) -> decltype(&*list.begin())
{
    return id ? byId(list, *id) : nullptr;
}

// The index of the first cut with `id`, or -1.
inline int cutIndex(const std::vector<Cut>& cuts, const QUuid& id)
{
    for (size_t i = 0; i < cuts.size(); ++i) {
        if (cuts[i].id == id)
            return int(i);
    }
    return -1;
}

// The Short time at which cut `k` starts in a recording of `duration` seconds: the lengths
// of the cuts before it as they play, so that the playhead an edit keeps lands in cut k.
inline double startOf(const std::vector<Cut>& cuts, size_t k, double duration)
{
    return Composition::line(cuts, duration).offset(int(std::min(k, cuts.size())));
}

// The length of the Short as it plays.
inline double totalOf(const std::vector<Cut>& cuts, double duration)
{
    return Composition::line(cuts, duration).total();
}

// A copy of `cuts` with fresh ids (bounds and roles kept).
inline std::vector<Cut> freshCopies(const std::vector<Cut>& cuts)
{
    std::vector<Cut> out = cuts;
    for (Cut& c : out)
        c.id = QUuid::createUuid();
    return out;
}

} // namespace lookup
