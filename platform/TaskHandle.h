#pragma once

#include "platform/Cancel.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <functional>
#include <memory>

// The owner of one long task: it starts the work on the next turn of the event loop (so
// the caller's own synchronous steps finish first), holds its cancel token, and can be
// awaited until the work has ended. Copies share the task.
class TaskHandle {
public:
    using Work = std::function<QCoro::Task<>(Cancel)>;

    static TaskHandle start(Work work);

    void cancel() const;
    bool cancelled() const;
    bool finished() const;
    Cancel token() const;
    // Resumes once the work has ended (at once when it already has).
    QCoro::Task<> done() const;

    bool operator==(const TaskHandle& other) const { return state == other.state; }

    class State; // shared by the copies and the running work

private:
    std::shared_ptr<State> state;
};
