#pragma once

// Finding and running the external programs (ffmpeg, whisper-cli).

#include <QCoro/QCoroTask>
#include <QString>
#include <QStringList>
#include <optional>

class QProcess;

namespace Tool {

// The full path of `name` in the first tool folder that holds it as an executable file:
// the folders of VANTOREL_TOOL_DIRS (colon-separated) first, then /opt/homebrew/bin,
// /home/linuxbrew/.linuxbrew/bin, /usr/local/bin and /usr/bin. The search path of the
// process is never consulted, so the program found does not depend on how we were started.
std::optional<QString> find(const QString& name);

// The path `find` gives, or a Fail with the sentence that tells how to install it.
QString require(const QString& name);

// Waits until the process has finished, or has failed to start (Qt reports a failed launch
// only through errorOccurred, never through finished).
QCoro::Task<void> ended(QProcess& process);

// Runs the program found by `find` with exactly these arguments (no shell) and waits for
// it to end. Standard output is discarded; standard error goes to a temporary log file
// whose last non-empty line becomes the sentence of the `Fail` thrown on a non-zero exit.
// Only the calling task waits; cancelling it does not stop the program.
QCoro::Task<void> run(QString name, QStringList arguments);

} // namespace Tool
