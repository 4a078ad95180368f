// Members of AppModel whose work is not built yet. Each does nothing (or says so), so
// callers can already be wired to them; none pretends to have done its work.

#include "model/lifecycle/AppModel.h"

// Undo history.
AppModel::Snapshot AppModel::snapshot() const
{
    return {project_.shorts, activeShort_, project_.segments};
}
void AppModel::commit() {}
void AppModel::restore(const Snapshot&) {}
void AppModel::undo() {}
void AppModel::redo() {}

// Short tabs.
std::vector<Short> AppModel::openShorts() const
{
    std::vector<Short> open;
    for (const Short& s : project_.shorts) {
        if (!s.closed.value_or(false))
            open.push_back(s);
    }
    return open;
}
void AppModel::newShort() {}
void AppModel::closeTab(const QUuid&) {}
std::optional<Idea> AppModel::idea(const Short&) const { return std::nullopt; }
bool AppModel::isEdited(const Short&) const { return false; }
void AppModel::revert(const Idea&) {}
void AppModel::openIdea(const Idea&) {}
void AppModel::activate(const QUuid&) {}
void AppModel::duplicateShort(const QUuid&) {}
void AppModel::rename(const QUuid&, const QString&) {}
void AppModel::deleteShort(const QUuid&) {}

// Cut editing.
std::vector<Cut> AppModel::cuts() const
{
    for (const Short& s : project_.shorts) {
        if (activeShort_ && s.id == *activeShort_)
            return s.cuts;
    }
    return {};
}
void AppModel::addRange() {}
void AppModel::splitAtPlayhead() {}
void AppModel::removeCut() {}
void AppModel::extend(const QUuid&, Edge, double) {}
void AppModel::moveCut(int, int) {}
void AppModel::trim(const QUuid&, Edge, double, std::optional<double>) {}
void AppModel::endTrim(const QUuid&, Edge) {}

// Segment edits.
void AppModel::addSegment(TimeRange) {}
void AppModel::rate(const QString&, std::optional<int>) {}
bool AppModel::touchesNext(const QString&) const { return false; }
void AppModel::joinWithNext(const QString&) {}
void AppModel::splitSegment() {}
void AppModel::correct(const QString&, int, const QString&) {}
void AppModel::removeSegment(const QString&) {}
int AppModel::shortsUsing(const Segment&) const { return 0; }
