// Undo and redo: two stacks of snapshots of the Shorts, the active Short and the
// segments. Restoring keeps what arrived since a snapshot was taken (transcripts,
// summaries, ratings) for every segment whose bounds did not change.

#include "model/editing/Lookup.h"
#include "model/lifecycle/AppModel.h"

#include <unordered_map>

namespace {
constexpr size_t undoSteps = 80;
} // namespace

AppModel::Snapshot AppModel::snapshot() const
{
    return {project_.shorts, activeShort_, project_.segments};
}

void AppModel::commit()
{
    if (undoStack_.size() >= undoSteps)
        undoStack_.erase(undoStack_.begin(), undoStack_.end() - (undoSteps - 1));
    undoStack_.push_back(snapshot());
    redoStack_.clear();
    setCanUndo(true);
    setCanRedo(false);
}

// A trim drag is one edit still being made: stepping through the history under it would
// leave the rest of the drag without an undo point and the redo step holding half of it.
void AppModel::undo()
{
    if (!scrubbing)
        travel(undoStack_, redoStack_);
}

void AppModel::redo()
{
    if (!scrubbing)
        travel(redoStack_, undoStack_);
}

// Takes the last state of `from`, keeps the present one on `to`, and restores.
void AppModel::travel(std::vector<Snapshot>& from, std::vector<Snapshot>& to)
{
    if (from.empty())
        return;
    const Snapshot target = std::move(from.back());
    from.pop_back();
    to.push_back(snapshot());
    restore(target);
}

void AppModel::restore(const Snapshot& snap)
{
    if (snap.shorts.size() != project_.shorts.size()) {
        note(QStringLiteral("Undo or redo changed the Shorts"),
             QStringLiteral("from %1 to %2").arg(project_.shorts.size()).arg(snap.shorts.size()));
    }
    project_.shorts = snap.shorts;

    // A segment whose bounds are unchanged keeps everything it has now.
    std::unordered_map<QString, const Segment*> current;
    for (const Segment& s : project_.segments)
        current.try_emplace(s.id, &s);
    std::vector<Segment> merged;
    merged.reserve(snap.segments.size());
    for (const Segment& old : snap.segments) {
        const auto found = current.find(old.id);
        const bool same = found != current.end() && found->second->start == old.start && found->second->end == old.end;
        merged.push_back(same ? *found->second : old);
    }
    project_.segments = std::move(merged);
    Q_EMIT projectChanged();

    if (lookup::byId(project_.shorts, snap.active))
        setActiveShort(snap.active);
    else
        setActiveShort(project_.shorts.empty() ? std::nullopt : std::optional<QUuid>(project_.shorts.front().id));
    if (!lookup::byId(project_.segments, selection_))
        setSelection(project_.segments.empty() ? std::nullopt : std::optional<QString>(project_.segments.front().id));
    setSelectedCut(std::nullopt);
    setCanUndo(!undoStack_.empty());
    setCanRedo(!redoStack_.empty());
    edited(std::nullopt);

    // A segment brought back without its transcript is transcribed again.
    const bool untranscribed = std::any_of(project_.segments.begin(), project_.segments.end(), [](const Segment& s) {
        return !s.lines && !s.waiting.value_or(false);
    });
    if (untranscribed && video_) {
        if (pipeline_)
            pipeline_->cancel();
        runPipeline(false, false, false, false, {});
    }
}
