#pragma once

// Finding and running the external programs (ffmpeg, whisper-cli).

#include <QCoro/QCoroTask>
#include <QString>
#include <QObject>
#include <QStringList>
#include <coroutine>
#include <memory>
#include <optional>

class QProcess;

namespace Tool {

// The full path of `name` in the first folder that holds it as an executable file: the
// folders of VANTOREL_TOOL_DIRS (colon-separated) first, then /opt/homebrew/bin,
// /home/linuxbrew/.linuxbrew/bin, /usr/local/bin and /usr/bin, in that order, and only
// then the absolute folders of PATH (a desktop session hands the user's PATH over, and
// programs built by hand often live on it). Empty and relative PATH entries are skipped,
// so what is found never depends on the folder we were started in.
std::optional<QString> find(const QString& name);

// The path `find` gives, or a Fail with the sentence that tells how to install it.
QString require(const QString& name);

// Makes the program that `process` starts end when this program ends, however it ends
// (killed included), so that no ffmpeg or whisper-cli runs on for nobody. Call before start.
void endWithUs(QProcess& process);

// Awaits the end of a started process: it has finished, or it failed to start (Qt reports
// a failed launch only through errorOccurred, never through finished). The awaiting
// coroutine resumes on a later turn of the event loop, never inside the process's own
// signal, so it may destroy the process. The wait belongs to the awaiting frame: a frame
// destroyed while it waits is never resumed.
class Ended {
public:
    explicit Ended(QProcess& process);
    Ended(Ended&&) = default; // only before it is awaited
    Ended(const Ended&) = delete;
    Ended& operator=(const Ended&) = delete;
    ~Ended();

    bool await_ready() const noexcept;
    void await_suspend(std::coroutine_handle<> waiting);
    void await_resume() const noexcept {}

private:
    QProcess& process_;
    std::unique_ptr<QObject> context_; // its queued resume dies with it
    bool fired_ = false;
};
inline Ended ended(QProcess& process) { return Ended(process); }

// Runs the program found by `find` with exactly these arguments (no shell) and waits for
// it to end. Standard output is discarded; standard error goes to a temporary log file
// whose last non-empty line becomes the sentence of the `Fail` thrown on a non-zero exit.
// Only the calling task waits; cancelling it does not stop the program.
QCoro::Task<void> run(QString name, QStringList arguments);

} // namespace Tool
