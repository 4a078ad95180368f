#pragma once

// The program's own files in the system's temporary folder: a stretch of sound cut for
// transcription, a child program's error output, the transcript whisper-cli writes beside
// the sound. Each is removed by its owner after use. Those still in use when the program
// ends (Quit ends the process at once, so no owner's scope ends) go with the end, and
// those of a process that was killed go at the next start.
//
// A process counts its files in a note of its own in the data folder, which it holds
// locked for as long as it runs. The lock goes with the process however it ends, so a
// sweep takes only what ended processes counted: never a running instance's files, and
// never a file that merely looks like one of ours.

#include <QString>

namespace TempFiles {

// A new path in the temporary folder, `prefix` + an upper-case UUID + `suffix` (a dot and
// lower-case letters), counted as this process's own from now on. Nothing is made there.
QString make(const QString& prefix, const QString& suffix);

// Counts `path`, named as `make` names, as this process's own: a file that another
// program writes for us beside one of ours.
void own(const QString& path);

// Removes the file at `path` and counts it no more; a failed removal is not worth a word.
void remove(const QString& path);

// Removes every file still counted: the program ends now.
void removeAll();

// Removes the files that ended processes counted, and their notes.
void sweep();

} // namespace TempFiles

// Removes a temporary file of ours when the scope ends, however it ends.
class RemoveWhenDone {
public:
    explicit RemoveWhenDone(QString file)
        : path(std::move(file))
    {
        TempFiles::own(path);
    }
    ~RemoveWhenDone() { TempFiles::remove(path); }
    RemoveWhenDone(const RemoveWhenDone&) = delete;
    RemoveWhenDone& operator=(const RemoveWhenDone&) = delete;
    const QString path;
};
