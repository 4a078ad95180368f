#pragma once

// The process entry: it reads the arguments once and either runs one command-line job
// without a window, or starts the windowed application.

#include <QCoro/QCoroTask>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace Main {

// One command-line job: runs on the main thread, may await, fails with `Fail`.
using Job = std::function<QCoro::Task<>()>;

// Runs the job that the arguments name, or the windowed application; either ends the
// process itself.
int main(int& argc, char** argv);

// The job the arguments name, tested in a fixed order; nothing when none matches.
std::optional<Job> dispatch(const QStringList& args);

// The argument right after the first occurrence of `flag`; nothing when the flag is
// absent or last.
std::optional<QString> valueAfter(const QString& flag, const QStringList& args);

// The whole argument read as a number by the C library's conversion (decimal or
// hexadecimal, sign, exponent, infinity, not-a-number); nothing for an empty argument,
// one that starts with white space, or one with anything left over.
std::optional<double> number(const QString& text);

// Refuses (with `Fail`) a stretch that starts before the recording.
void refuseBefore(double start);
// Refuses (with `Fail`) a stretch from `start` to `end` that starts at or after the end of
// a recording `length` seconds long, or ends past it; `pastEnd` begins the sentence for the
// latter. A length of 0 is one the file does not tell, and refuses nothing.
void refuseAfter(double start, double end, double length, const QString& pastEnd);

// Prints one line on standard output at once.
void say(const QString& line);

// ---- the jobs ----
QCoro::Task<> transcribe(QString recording, double start, double length, QString hint);
QCoro::Task<> checkKey();
QCoro::Task<> run(QString recording, QString note);
QCoro::Task<> exportShort(QString recording, QString output);
QCoro::Task<> ask(QString recording, QString segments, QString instruction);
QCoro::Task<> addSegment(QString recording, double start, double end);

} // namespace Main
