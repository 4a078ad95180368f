#pragma once

// The job facility: every piece of work done for the project (a transcription, a summary
// run, an idea search, an Ask AI request, an export) runs inside `job`, which shows it in
// `jobs` while it runs and records how it ended in the activity log.

#include "core/project/Json.h"
#include "model/lifecycle/AppModel.h"

#include <QPointer>
#include <type_traits>

template <class T, class Work>
QCoro::Task<T> AppModel::job(QString kind, QString title, QString detail, QString engine, std::optional<Rerun> rerun,
                             Work work, Cancel cancel)
{
    Job entry;
    entry.id = QUuid::createUuid();
    entry.kind = kind;
    entry.title = title;
    entry.detail = detail;
    entry.engine = engine;
    entry.started = json::now();
    entry.state = QStringLiteral("running");
    entry.rerun = rerun;
    const QUuid id = entry.id;
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
            if (self)
                finish(id, trace, QStringLiteral("done"), std::nullopt);
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
