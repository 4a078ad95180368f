#pragma once

// Texts and rules of the tool windows (activity, Ask AI, export), kept apart from their
// widgets so that they can be checked on their own.

#include "core/project/Records.h"

#include <QString>
#include <optional>
#include <set>
#include <vector>

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
