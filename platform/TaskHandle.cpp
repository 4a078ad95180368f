#include "platform/TaskHandle.h"

#include <QCoro/QCoroSignal>
#include <QTimer>

class TaskHandle::State : public QObject {
    Q_OBJECT
public:
    Cancel cancel = Cancel::make();
    bool finished = false;
Q_SIGNALS:
    void ended();
};

namespace {
// The work lives in this frame (a parameter), so a lambda's captures stay alive for the
// whole run. Failures have nobody to go to: work reports them itself.
QCoro::Task<> run(std::shared_ptr<TaskHandle::State> state, TaskHandle::Work work)
{
    try {
        co_await work(state->cancel);
    } catch (...) {
    }
    state->finished = true;
    Q_EMIT state->ended();
}
} // namespace

TaskHandle TaskHandle::start(Work work)
{
    TaskHandle handle;
    handle.state = std::make_shared<State>();
    QTimer::singleShot(0, handle.state.get(), [state = handle.state, work = std::move(work)]() mutable {
        run(state, std::move(work));
    });
    return handle;
}

void TaskHandle::cancel() const
{
    if (state)
        state->cancel.cancel();
}

bool TaskHandle::cancelled() const
{
    return state && state->cancel.cancelled();
}

bool TaskHandle::finished() const
{
    return !state || state->finished;
}

Cancel TaskHandle::token() const
{
    return state ? state->cancel : Cancel();
}

QCoro::Task<> TaskHandle::done() const
{
    const auto keep = state; // the handle may go away while we wait
    if (!keep || keep->finished)
        co_return;
    co_await qCoro(keep.get(), &State::ended);
}

#include "TaskHandle.moc"
