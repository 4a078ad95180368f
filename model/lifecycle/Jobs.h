#pragma once

// The job facility: every piece of work done for the project (a transcription, a summary
// run, an idea search, an Ask AI request, an export) runs inside `job`, which shows it in
// `jobs` while it runs and records how it ended in the activity log.

#include "core/project/Json.h"
#include "model/lifecycle/AppModel.h"

#include <QPointer>
#include <functional>
#include <type_traits>

// Not a coroutine itself: it moves the caller's callable into a named std::function and
// hands that to the coroutine below. A lambda made as a temporary in the caller's
// `co_await job(...)` therefore never becomes a coroutine parameter (GCC 12 destroys such
// a by-value temporary twice), and the work's captures live as long as the job's frame.
template <class T, class Work>
QCoro::Task<T> AppModel::job(QString kind, QString title, QString detail, QString engine, std::optional<Rerun> rerun,
                             Work work, Cancel cancel)
{
    std::function<QCoro::Task<T>(Trace&)> named(std::move(work));
    JobLabel label{std::move(kind), std::move(title), std::move(detail), std::move(engine), std::move(rerun)};
    return runJob<T>(std::move(label), std::move(named), std::move(cancel));
}

template <class T>
QCoro::Task<T> AppModel::runJob(JobLabel label, std::function<QCoro::Task<T>(Trace&)> work, Cancel cancel,
                                std::function<std::optional<QString>()> unkept)
{
    Job entry;
    entry.id = QUuid::createUuid();
    entry.kind = label.kind;
    entry.title = label.title;
    entry.detail = label.detail;
    entry.engine = label.engine;
    entry.started = json::now();
    entry.state = QStringLiteral("running");
    entry.rerun = label.rerun;
    const QUuid id = entry.id;
    if (cancel.live())
        stops_[id] = cancel;
    std::vector<Job> next = jobs_;
    next.insert(next.begin(), std::move(entry));
    setJobs(std::move(next));

    Trace trace;
    const QPointer<AppModel> self(this);
    QString failure;
    try {
        if constexpr (std::is_void_v<T>) {
            co_await work(trace);
            if (self)
                finish(id, trace, QStringLiteral("done"), std::nullopt);
            co_return;
        } else {
            T value = co_await work(trace);
            if (self) {
                const std::optional<QString> reason = unkept ? unkept() : std::nullopt;
                finish(id, trace, reason ? QStringLiteral("cancelled") : QStringLiteral("done"), reason);
            }
            co_return value;
        }
    } catch (const Fail& fail) {
        failure = fail.errorDescription;
    } catch (const std::exception& e) {
        failure = QString::fromUtf8(e.what());
    } catch (...) {
        failure = QStringLiteral("Something unexpected went wrong.");
    }
    if (self) {
        if (cancel.cancelled())
            finish(id, trace, QStringLiteral("cancelled"), std::nullopt);
        else
            finish(id, trace, QStringLiteral("failed"), failure);
    }
    throw Fail(failure);
}
