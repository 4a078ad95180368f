#pragma once

// What the language model is asked about a stream, and how its answers are read back:
// segment summaries, Short ideas and Ask AI.

#include "core/project/Records.h"
#include "core/services/Analyst.h"

#include <functional>
#include <set>

namespace Analyst {

QString summaryModel();
QString editModel();

// Segments as the model reads them: headed transcripts with line ids ("06.03"), and a
// one-line digest per segment.
QString transcript(const std::vector<Segment>& segments);
QString digest(const std::vector<Segment>& segments);

struct LineRef {
    size_t segment; // index into the list
    size_t line;    // index into its lines
    bool operator==(const LineRef&) const = default;
};
// A line id such as "06.03" resolved against the list; none when it names nothing.
std::optional<LineRef> line(const Json* value, const std::vector<Segment>& segments);
// The cuts of a reply; entries that break a rule are dropped.
std::vector<Cut> cuts(const Json* value, const std::vector<Segment>& segments);

// The project's whole segment list, with the described ones updated. `only` limits
// which segments are described (all when absent).
QCoro::Task<std::vector<Segment>> summarize(Project project, std::optional<std::set<QString>> only,
                                            Trace* trace, Cancel cancel = {});
QCoro::Task<std::vector<Idea>> ideas(Project project, Trace* trace, Cancel cancel = {});

// One Short cut from the user's instruction; the model may ask to read up to three more
// times. `progress` is called on the caller's thread.
QCoro::Task<Short> compose(QString instruction, Project project, std::set<QString> include,
                           std::optional<QString> onScreen, Trace* trace,
                           std::function<void(const QString&)> progress, Cancel cancel = {});

} // namespace Analyst
