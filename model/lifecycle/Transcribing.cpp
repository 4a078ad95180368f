// Transcribing one segment as a recorded job, transcribing chosen segments again with a
// chosen engine, and retrying a segment whose transcription failed.

#include "core/services/Transcription.h"
#include "model/lifecycle/Jobs.h"
#include "platform/Prefs.h"

#include <QPointer>

namespace {

Segment* find(Project& project, const QString& id)
{
    const auto it = std::find_if(project.segments.begin(), project.segments.end(),
                                 [&](const Segment& s) { return s.id == id; });
    return it == project.segments.end() ? nullptr : &*it;
}

} // namespace

QCoro::Task<bool> AppModel::transcribe(QString id, std::shared_ptr<const Transcriber> engine, QString key, Run run)
{
    const Segment* found = find(project_, id);
    if (!found)
        co_return false;
    const Segment segment = *found;
    const QString language = Prefs::shared().language();
    const QString hint = project_.note;
    std::function<QCoro::Task<Pipeline::Transcript>(Trace&)> work = [segment, video = run.video, language, hint,
                                                                      engine, cancel = run.cancel](Trace& trace) {
        return Pipeline::transcribe(segment, video, language, hint, engine, &trace, cancel);
    };

    const JobLabel label{QStringLiteral("transcribe"), QStringLiteral("Transcribe segment ") + id,
                         ::clock(segment.start) + QStringLiteral(" to ") + ::clock(segment.end), engine->name(),
                         Rerun{Rerun::Transcribe{id, key}}};

    const QPointer<AppModel> self(this);
    std::optional<Pipeline::Transcript> result;
    std::optional<QString> failure;
    try {
        result = co_await runJob<Pipeline::Transcript>(label, work, run.cancel);
    } catch (const Fail& fail) {
        failure = fail.errorDescription;
    }
    // Nothing of this recording's work may land in another one's project.
    if (!self || !stillFor(run))
        co_return false;

    Project next = project_;
    Segment* target = find(next, id);
    // A segment joined or split meanwhile keeps its id but not the stretch that was heard:
    // its lines would miss a part or run past its end, and a failure may not be its own.
    if (target && (target->start != segment.start || target->end != segment.end))
        co_return !run.cancel.cancelled();
    if (result) {
        if (!target)
            co_return false;
        target->lines = std::move(result->lines);
        target->peaks = std::move(result->peaks);
        target->error.reset();
        target->waiting.reset();
    } else if (target && !run.cancel.cancelled()) {
        target->error = failure;
    }
    setProject(std::move(next));
    save();
    co_return false;
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
    for (size_t k = 0; k < n;) {
        if (run.cancel.cancelled() || !stillFor(run)) {
            endRun(run, QString());
            co_return;
        }
        if (run.number == runs_)
            setStatus(QStringLiteral("Transcribing %1 of %2 again with %3").arg(k + 1).arg(n).arg(engine->name()));
        const bool changed = co_await transcribe(ids[k], engine, key, run);
        if (!self)
            co_return;
        if (!changed)
            ++k; // else the same segment again, as it is now
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
