// Ask AI: one Short cut from the user's instruction, added as an undoable edit.

#include "core/services/Prompts.h"
#include "model/lifecycle/Jobs.h"

#include <QPointer>

namespace {
const QString closedMeanwhile = QStringLiteral("The stream was closed before the answer arrived.");
}

std::optional<QString> AppModel::composeRefusal(const Project& project)
{
    if (std::none_of(project.segments.begin(), project.segments.end(),
                     [](const Segment& s) { return s.lines && !s.lines->empty(); }))
        return QStringLiteral("No segment has a transcript yet.");
    return std::nullopt;
}

QCoro::Task<std::optional<QString>> AppModel::compose(QString instruction, std::set<QString> include, Cancel cancel)
{
    if (std::optional<QString> refusal = composeRefusal(project_))
        co_return refusal;

    // Requests may overlap (a sheet closed while its request runs on, a run again from the
    // activity window): the flag stays up until the last of them returns.
    ++composeRuns_;
    setComposing(true);
    const QPointer<AppModel> self(this);
    const int generation = generation_;
    std::function<void(const QString&)> progress = [self](const QString& text) {
        if (self)
            self->setComposeStatus(text);
    };
    std::function<QCoro::Task<Short>(Trace&)> work = [instruction, project = project_, include, onScreen = selection_,
                                                      progress, cancel](Trace& trace) {
        return Analyst::compose(instruction, project, include, onScreen, &trace, progress, cancel);
    };

    // Every argument of an awaited call is named: GCC 12 destroys a temporary made inside
    // a co_await expression twice.
    const JobLabel label{QStringLiteral("ask"), QStringLiteral("Ask AI for a Short"), instruction, Analyst::editModel(),
                         Rerun{Rerun::Ask{instruction, std::vector<QString>(include.begin(), include.end())}}};
    std::optional<Short> made;
    QString failure;
    try {
        made = co_await runJob<Short>(label, work, cancel);
    } catch (const Fail& fail) {
        failure = fail.errorDescription;
    }
    if (!self)
        co_return failure.isEmpty() ? closedMeanwhile : failure;
    --composeRuns_;

    // An answer for a recording that was closed or replaced meanwhile makes no Short in
    // whatever is open now.
    if (made && generation != generation_) {
        made.reset();
        failure = closedMeanwhile;
    }
    if (made) {
        commit(); // after the answer, so one undo removes exactly the new Short
        Project next = project_;
        next.shorts.push_back(*made);
        setProject(std::move(next));
        setActiveShort(made->id);
        setSelectedCut(std::nullopt);
        save();
        if (mode_ != Mode::shortClip)
            assignMode(Mode::shortClip);
        showShort(0);
    }
    if (composeRuns_ == 0) {
        setComposing(false);
        setComposeStatus(QString());
    }
    if (made)
        co_return std::nullopt;
    co_return failure;
}
