// Transcribing one segment as a recorded job, transcribing chosen segments again with a
// chosen engine, and retrying a segment whose transcription failed.

#include "core/services/Transcription.h"
#include "model/lifecycle/Jobs.h"
#include "model/lifecycle/WorkList.h"
#include "platform/Prefs.h"
#include "platform/media/Media.h"

#include <QPointer>

namespace {

Segment* find(Project& project, const QString& id)
{
    const auto it = std::find_if(project.segments.begin(), project.segments.end(),
                                 [&](const Segment& s) { return s.id == id; });
    return it == project.segments.end() ? nullptr : &*it;
}

// Where the recording's data stops: short of what its index says (a copy cut off), else
// at its length, which a project made from it before it was cut off may run past.
std::optional<double> dataStop(const std::optional<MediaInfo>& asset)
{
    if (!asset)
        return std::nullopt;
    if (asset->dataEnd)
        return asset->dataEnd;
    return asset->duration > 0 ? std::optional(asset->duration) : std::nullopt;
}

// A segment that lies past where the data stops holds nothing to hear: its job fails with
// the sentence that says so, rather than ending "done" without a line.
QCoro::Task<Pipeline::Transcript> transcribeHeld(Segment segment, QString video, std::optional<double> stop,
                                                 QString language, QString hint,
                                                 std::shared_ptr<const Transcriber> engine, Trace* trace, Cancel cancel)
{
    if (stop && segment.start >= *stop)
        throw Fail(Media::endsEarly(video, *stop));
    co_return co_await Pipeline::transcribe(segment, video, language, hint, engine, trace, cancel);
}

} // namespace

QCoro::Task<std::optional<TimeRange>> AppModel::transcribe(QString id, std::shared_ptr<const Transcriber> engine,
                                                           QString key, Run run)
{
    const Segment* found = find(project_, id);
    if (!found)
        co_return std::nullopt;
    const Segment segment = *found;
    const QString language = Prefs::shared().language();
    const QString hint = project_.note;
    std::function<QCoro::Task<Pipeline::Transcript>(Trace&)> work = [segment, video = run.video,
                                                                      stop = dataStop(asset_), language, hint,
                                                                      engine, cancel = run.cancel](Trace& trace) {
        return transcribeHeld(segment, video, stop, language, hint, engine, &trace, cancel);
    };

    const JobLabel label{QStringLiteral("transcribe"), QStringLiteral("Transcribe segment ") + id,
                         ::clock(segment.start) + QStringLiteral(" to ") + ::clock(segment.end), engine->name(),
                         Rerun{Rerun::Transcribe{id, key}}};

    const QPointer<AppModel> self(this);
    // A segment joined or split meanwhile keeps its id (or is gone) but not the stretch
    // that was heard: its lines would miss a part or run past its end, and a failure may
    // not be its own.
    const auto changed = [self, id, segment] {
        const Segment* now = self ? find(self->project_, id) : nullptr;
        return !now || now->start != segment.start || now->end != segment.end;
    };
    // The job says so rather than "done": the activity log must not show a transcript
    // that the user never gets (with a paid engine, the call's cost stays on it).
    std::function<std::optional<QString>()> unkept = [self, changed, run]() -> std::optional<QString> {
        if (!self || !self->stillFor(run) || !changed())
            return std::nullopt;
        return QStringLiteral("The segment changed while it was transcribed (a join, a split or an undo), so this "
                              "transcript was not kept.");
    };
    std::optional<Pipeline::Transcript> result;
    std::optional<QString> failure;
    try {
        result = co_await runJob<Pipeline::Transcript>(label, work, run.cancel, unkept);
    } catch (const Fail& fail) {
        failure = fail.errorDescription;
    }
    // Nothing of this recording's work may land in another one's project.
    if (!self || !stillFor(run))
        co_return std::nullopt;
    if (changed())
        co_return TimeRange{segment.start, segment.end};

    Project next = project_;
    Segment* target = find(next, id);
    if (result) {
        target->lines = std::move(result->lines);
        target->peaks = std::move(result->peaks);
        target->error.reset();
        target->waiting.reset();
    } else if (!run.cancel.cancelled()) {
        target->error = failure;
    }
    setProject(std::move(next));
    save();
    co_return std::nullopt;
}

void AppModel::transcribeAgain(std::vector<QString> ids, QString engineKey)
{
    if (!video_)
        return;
    std::shared_ptr<const Transcriber> engine = Transcribers::named(engineKey);
    startRun([ids = std::move(ids), engine, engineKey](AppModel& model, Run run) {
        return model.transcribeRun(ids, engine, engineKey, run);
    });
}

QCoro::Task<> AppModel::transcribeRun(std::vector<QString> ids, std::shared_ptr<const Transcriber> engine, QString key,
                                      Run run)
{
    if (run.cancel.cancelled() || !stillFor(run))
        co_return; // closed or replaced before it began
    const QPointer<AppModel> self(this);
    setWorking(true);
    const size_t n = ids.size();
    WorkList work;
    for (const QString& id : ids)
        work.push(id);
    for (size_t k = 0; k < work.size(); ++k) {
        if (run.cancel.cancelled() || !stillFor(run)) {
            endRun(run, QString());
            co_return;
        }
        if (run.number == runs_)
            setStatus(QStringLiteral("Transcribing %1 of %2 again with %3")
                          .arg(k + 1)
                          .arg(work.size())
                          .arg(engine->name()));
        const QString id = work[k];
        if (const Segment* s = find(project_, id))
            work.hear(*s);
        const auto dropped = co_await transcribe(id, engine, key, run);
        if (!self)
            co_return;
        if (!dropped || run.cancel.cancelled())
            continue;
        // The stretch asked for changed while it was heard: the segment as it is now, and
        // whatever now covers that stretch without lines (the other part of a split), are
        // heard with the engine asked for.
        for (const Segment& s : project_.segments) {
            const bool same = s.id == id && !s.waiting.value_or(false);
            const bool covering = missing(s) && s.start < dropped->upper && dropped->lower < s.end;
            if (same || covering)
                work.add(s, k + 1);
        }
    }
    // A closed or replaced recording, or a stopped run, gets no closing notice.
    if (run.cancel.cancelled() || !stillFor(run)) {
        endRun(run, QString());
        co_return;
    }
    const auto failed = std::count_if(project_.segments.begin(), project_.segments.end(), [&](const Segment& s) {
        return s.error && std::find(ids.begin(), ids.end(), s.id) != ids.end();
    });
    if (failed == 0)
        setToast(QStringLiteral("Transcribed %1 segment%2 again. Summaries are unchanged; Stream \u25B8 Summarize "
                                "Segments Again refreshes them")
                     .arg(n)
                     .arg(n == 1 ? QString() : QStringLiteral("s")));
    else
        setToast(QStringLiteral("%1 of %2 could not be transcribed again. See Activity").arg(failed).arg(n));
    if (!hearLeftovers(run, work, false))
        endRun(run, QString());
}

void AppModel::retry(const QString& id)
{
    Project next = project_;
    Segment* target = find(next, id);
    if (!target)
        return;
    target->error.reset();
    target->waiting.reset();
    setProject(std::move(next));
    runPipeline(false, false, false, false, {});
}
