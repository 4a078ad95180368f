#pragma once

// Texts and rules of the tool windows (activity, Ask AI, export), kept apart from their
// widgets so that they can be checked on their own.

#include "core/project/Activity.h"
#include "core/project/Records.h"

#include <QUuid>

#include <QString>
#include <optional>
#include <set>
#include <vector>

// A title for a row of one line: line breaks, tabs and other control characters become
// blanks (titles come from the model and may hold anything).
QString oneLine(const QString& text);

// ---- export ----
// "1:15.2 · 3 cuts": the Short's length and its number of cuts.
QString exportLength(double seconds, int cuts);
// The name proposed for an exported Short (without ".mp4"): the first ten characters of
// the recording's file name, a blank and the Short's title ("Short" without one). "/"
// becomes "-"; ":", control characters and line breaks are dropped, since a title
// comes from the model and may hold anything.
QString exportName(const std::optional<QString>& video, const std::optional<QString>& title);

// ---- Ask AI ----
// The segments offered for their full transcripts: those with a transcript (even an
// empty one) that are not rejected, in the project's order.
std::vector<const Segment*> listedSegments(const Project& project);
// The height of the list of `listed` segments: 28 points a row and 4 more, at most 280.
int askListHeight(int listed);
// "none", or how many transcripts go with the request.
QString includeCount(const std::set<QString>& include);
// "Create Short" needs an instruction with more than spaces and tabs, and no request
// under way.
bool canCreate(const QString& instruction, bool composing);

// ---- activity ----
// A cost in cents below a dime ("1.2¢"), in dollars from there on ("$0.25").
QString money(double dollars);
// How long a finished job took, for the list: "42 s" below a minute, "1:15.2" from there.
// Empty while it runs and for a note.
QString jobLength(const Job& job);
// The line under a job's title: when it started (`when`, already formatted), its state
// unless done or a note, its length, its cost.
QString jobLine(const Job& job, const QString& when);
// The footer under the list.
QString activityFooter(size_t jobs, double spent);

// The status icon: a turning wheel for a running job, else a symbol in a colour role.
struct Mark {
    enum class Colour { none, red, secondary, accent };
    QString symbol; // empty: the wheel
    Colour colour = Colour::none;
    bool operator==(const Mark&) const = default;
};
Mark mark(const Job& job);

// The job the detail pane shows: the chosen one while it is listed, else the newest;
// none when there are no jobs.
std::optional<size_t> shownJob(const std::vector<Job>& jobs, const std::optional<QUuid>& chosen);

// The button in a job's header: "Stop" for a running job only where it really stops
// that job (`stoppable`: it runs with a token of its own that has not fired), never a
// Stop that would cancel something else; "Run Again" for a finished job that can be run
// again.
enum class HeaderButton { none, stop, runAgain };
HeaderButton headerButton(const Job& job, bool stoppable);

// A long text as the detail pane shows it: its first 6,000 characters (as a user counts
// them) and a line saying how many more there are.
constexpr int shownCharacters = 6000;
QString clipped(const QString& text);
