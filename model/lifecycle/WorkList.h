#pragma once

// The segments a run transcribes, in turn. The list grows while the run goes on: an edit
// made meanwhile (a join, a split, an undo) can leave segments without a transcript, and
// they join the end. A segment waits in the list at most once, and is heard at most once
// with the same bounds, so no edit makes the engine (perhaps a paid one) hear a stretch
// twice.

#include "core/project/Records.h"

#include <QString>
#include <algorithm>
#include <vector>

// No lines yet and not left for the user to ask for: what a run transcribes. A segment
// whose lines are present but empty was heard and has nothing to say.
inline bool missing(const Segment& s)
{
    return !s.lines && !s.waiting.value_or(false);
}

class WorkList {
public:
    size_t size() const { return ids_.size(); }
    // A copy: the list may grow while the caller holds it.
    QString operator[](size_t i) const { return ids_[i]; }

    // Queues the id as given, without looking at the segment (the ids a user asked for).
    void push(const QString& id) { ids_.push_back(id); }

    // Queues `s` unless it waits at `next` or after, or was heard as it is now.
    void add(const Segment& s, size_t next)
    {
        const bool waits = std::find(ids_.begin() + qsizetype(std::min(next, ids_.size())), ids_.end(), s.id)
                           != ids_.end();
        if (!waits && !heard(s))
            ids_.push_back(s.id);
    }

    // Notes that `s`, with its present bounds, is being heard.
    void hear(const Segment& s) { heard_.push_back({s.id, s.start, s.end}); }
    bool heard(const Segment& s) const
    {
        return std::any_of(heard_.begin(), heard_.end(),
                           [&](const Stretch& h) { return h.id == s.id && h.start == s.start && h.end == s.end; });
    }

private:
    struct Stretch {
        QString id;
        double start = 0;
        double end = 0;
    };
    std::vector<QString> ids_;
    std::vector<Stretch> heard_;
};
