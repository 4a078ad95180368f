// The background pipeline: transcribe what is missing, describe segments, look for Short
// ideas, one step after the other, saving after every step.

#include "core/services/Prompts.h"
#include "core/services/Transcription.h"
#include "model/editing/Lookup.h"
#include "model/lifecycle/Jobs.h"
#include "model/lifecycle/WorkList.h"
#include "platform/Prefs.h"

#include <QPointer>
#include <QStringList>
#include <algorithm>

namespace {

QString plural(size_t n)
{
    return n == 1 ? QString() : QStringLiteral("s");
}

bool transcribed(const Segment& s)
{
    return s.lines && !s.lines->empty();
}

} // namespace

void AppModel::runPipeline(bool ideasAgain, bool summariesAgain, bool transcribeNow, bool firstRun,
                           std::set<QString> summarize)
{
    if (!video_)
        return;
    RunRequest request{ideasAgain, summariesAgain, transcribeNow, firstRun, std::move(summarize)};
    startRun([request = std::move(request)](AppModel& model, Run run) { return model.pipelineRun(request, run); });
}

void AppModel::startRun(std::function<QCoro::Task<>(AppModel&, Run)> work)
{
    // The run replaced here stops at its next step, but a program it started goes on and
    // its transcript still lands. The new run waits for that before it takes its list, or
    // it would hear the segment under way a second time (with a paid engine, pay twice).
    // A run for another opening has nothing the new one could take, so it is not awaited.
    std::optional<TaskHandle> replaced;
    if (pipeline_) {
        pipeline_->cancel();
        if (pipelineGeneration_ == generation_)
            replaced = pipeline_;
    }
    const int number = ++runs_;
    pipelineGeneration_ = generation_;
    pipeline_ = TaskHandle::start([self = QPointer<AppModel>(this), work = std::move(work), video = *video_,
                                   generation = generation_, number, replaced](Cancel cancel) -> QCoro::Task<> {
        // The handle keeps this callable alive until the run has ended. Every argument is
        // named: GCC 12 destroys a temporary made inside a co_await expression twice.
        if (replaced)
            co_await replaced->done();
        if (!self)
            co_return;
        const Run run{video, generation, number, cancel};
        co_await work(*self, run);
    });
}

bool AppModel::stillFor(const Run& run) const
{
    return generation_ == run.generation && video_ == run.video;
}

void AppModel::endRun(const Run& run, std::optional<QString> status)
{
    if (run.number != runs_)
        return;
    if (status)
        setStatus(*status);
    setWorking(false);
}

// One AI step as a job. Nothing when the run must end here (the step failed, or the
// recording changed while it was asked); the run's ending is then done.
template <class T>
QCoro::Task<std::optional<T>> AppModel::aiStep(Run run, QString status, JobLabel label,
                                               std::function<QCoro::Task<T>(Trace&)> work)
{
    if (run.number == runs_)
        setStatus(status);
    const QPointer<AppModel> self(this);
    std::optional<T> value;
    std::optional<QString> failure;
    try {
        value = co_await runJob<T>(label, work, run.cancel);
    } catch (const Fail& fail) {
        failure = fail.errorDescription;
    }
    if (!self)
        co_return std::nullopt;
    if (failure) {
        if (!run.cancel.cancelled() && stillFor(run))
            setProblem(failure);
        endRun(run, QString());
        co_return std::nullopt;
    }
    if (!stillFor(run)) {
        endRun(run);
        co_return std::nullopt;
    }
    co_return value;
}

QCoro::Task<> AppModel::pipelineRun(RunRequest request, Run run)
{
    if (run.cancel.cancelled() || !stillFor(run))
        co_return; // closed or replaced before it began
    const QPointer<AppModel> self(this);
    setWorking(true);
    const auto engine = Transcribers::current();
    const QString key = Prefs::shared().transcriber();

    WorkList work;
    const auto wanted = [&request](const Segment& s) { return missing(s) && !(request.leftovers && s.error); };
    if (project_.autoTranscribe.value_or(true) || request.transcribeNow) {
        for (const Segment& s : project_.segments) {
            if (wanted(s))
                work.add(s, 0);
        }
    }
    for (size_t i = 0; i < work.size(); ++i) {
        if (run.cancel.cancelled() || !stillFor(run)) {
            endRun(run);
            co_return;
        }
        // Joined into another, or given lines or made to wait meanwhile: nothing to hear.
        const Segment* next = lookup::byId(project_.segments, work[i]);
        if (!next || !missing(*next))
            continue;
        if (run.number == runs_)
            setStatus(QStringLiteral("Transcribing %1 of %2").arg(i + 1).arg(work.size()));
        work.hear(*next);
        co_await transcribe(work[i], engine, key, run);
        if (!self)
            co_return;
        // An edit made meanwhile may have left segments without lines: the one just heard
        // when its result no longer fitted it, or another (a join, a split, an undo).
        if (!run.cancel.cancelled()) {
            for (const Segment& s : project_.segments) {
                if (wanted(s))
                    work.add(s, i + 1);
            }
        }
    }

    const auto failed = size_t(std::count_if(project_.segments.begin(), project_.segments.end(),
                                             [](const Segment& s) { return s.error.has_value(); }));
    if (run.cancel.cancelled() || !stillFor(run)
        || std::none_of(project_.segments.begin(), project_.segments.end(), transcribed)) {
        endRun(run, QString());
        co_return;
    }

    if (request.summariesAgain
        || (request.firstRun && !project_.analyzed && project_.autoSummarize.value_or(true))) {
        const size_t n = project_.segments.size();
        const Project copy = project_;
        std::function<QCoro::Task<std::vector<Segment>>(Trace&)> describe = [copy, cancel = run.cancel](Trace& trace) {
            return Analyst::summarize(copy, std::nullopt, &trace, cancel);
        };
        const QString status = QStringLiteral("Summarizing %1 segment%2").arg(n).arg(plural(n));
        const JobLabel label{QStringLiteral("summarize"), QStringLiteral("Summarize every segment"), QString(),
                             Analyst::summaryModel(), Rerun{Rerun::Summarize{}}};
        const auto described = co_await aiStep(run, status, label, describe);
        if (!described)
            co_return;
        merge(*described);
        Project next = project_;
        next.analyzed = true;
        setProject(std::move(next));
        save();
    }

    std::set<QString> chosen;
    for (const Segment& s : project_.segments) {
        if (request.summarize.count(s.id) && transcribed(s))
            chosen.insert(s.id);
    }
    if (!chosen.empty()) {
        const std::vector<QString> ids(chosen.begin(), chosen.end()); // a set is in ascending order
        const QString list = QStringList(ids.begin(), ids.end()).join(QStringLiteral(", "));
        const QString s = plural(ids.size());
        const Project copy = project_;
        std::function<QCoro::Task<std::vector<Segment>>(Trace&)> describe = [copy, chosen,
                                                                             cancel = run.cancel](Trace& trace) {
            return Analyst::summarize(copy, chosen, &trace, cancel);
        };
        const QString status = QStringLiteral("Summarizing segment") + s + u' ' + list;
        const JobLabel label{QStringLiteral("summarize"), QStringLiteral("Summarize segment") + s + u' ' + list,
                             QString(), Analyst::summaryModel(), Rerun{Rerun::Summarize{ids}}};
        const auto described = co_await aiStep(run, status, label, describe);
        if (!described)
            co_return;
        merge(*described);
        save();
    }

    if (request.ideasAgain
        || (request.firstRun && project_.autoIdeas.value_or(true) && !project_.ideated.value_or(false)
            && project_.ideas.empty())) {
        const Project copy = project_;
        std::function<QCoro::Task<std::vector<Idea>>(Trace&)> look = [copy, cancel = run.cancel](Trace& trace) {
            return Analyst::ideas(copy, &trace, cancel);
        };
        const QString status = QStringLiteral("Looking for Short ideas");
        const JobLabel label{QStringLiteral("ideas"), QStringLiteral("Look for Short ideas"), QString(),
                             Analyst::editModel(), Rerun{Rerun::Ideas{}}};
        const auto found = co_await aiStep(run, status, label, look);
        if (!found)
            co_return;
        // Ideas that a Short was opened from stay, so the Short keeps its link to them;
        // only the others are replaced.
        Project next = project_;
        std::vector<Idea> ideas;
        for (const Idea& idea : next.ideas) {
            if (std::any_of(next.shorts.begin(), next.shorts.end(), [&](const Short& s) { return s.idea == idea.id; }))
                ideas.push_back(idea);
        }
        ideas.insert(ideas.end(), found->begin(), found->end());
        next.ideas = std::move(ideas);
        next.ideated = true;
        setProject(std::move(next));
        save();
    }

    if (hearLeftovers(run, work, request.transcribeNow))
        co_return;
    endRun(run, failed == 0 ? QString()
                            : QStringLiteral("%1 segment%2 could not be transcribed").arg(failed).arg(plural(failed)));
}

bool AppModel::hearLeftovers(const Run& run, const WorkList& work, bool transcribeNow)
{
    if (run.cancel.cancelled() || !stillFor(run) || run.number != runs_)
        return false;
    if (!project_.autoTranscribe.value_or(true) && !transcribeNow)
        return false;
    // A failed segment waits for the user's retry; one heard as it is has had its turn.
    const bool left = std::any_of(project_.segments.begin(), project_.segments.end(), [&](const Segment& s) {
        return missing(s) && !s.error && !work.heard(s);
    });
    if (left) {
        RunRequest request{false, false, transcribeNow, false, {}, true};
        startRun([request](AppModel& model, Run next) { return model.pipelineRun(request, next); });
    }
    return left;
}

void AppModel::merge(const std::vector<Segment>& summaries)
{
    Project next = project_;
    for (const Segment& described : summaries) {
        for (Segment& s : next.segments) {
            if (s.id != described.id)
                continue;
            s.title = described.title;
            s.summary = described.summary;
            s.energy = described.energy;
            s.kind = described.kind;
            s.unsure = described.unsure;
            s.keyLine = described.keyLine;
        }
    }
    setProject(std::move(next));
}
