#pragma once

// A file written for a while under a hidden name beside the file it becomes (an export
// under way), and the removal of such files that a writer left behind when it was killed.
//
// The writer holds a lock on its file for as long as it may write it, and the lock goes
// with the writer's process, however it ends. A sweep, in any process, removes only files
// that nobody holds, so it never takes a file from an export that is still running.

#include <QString>

class PartialFile {
public:
    // Makes an empty, locked ".vt-<UUID><suffix>" in `folder` and notes it in the data
    // folder, so that a later sweep finds it wherever it lies. Throws Fail.
    static PartialFile create(const QString& folder, const QString& suffix);

    PartialFile(PartialFile&& other) noexcept;
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;
    PartialFile& operator=(PartialFile&&) = delete;
    // Removes the file unless it was moved to its target, and lets go of it.
    ~PartialFile();

    const QString& path() const { return path_; }
    // Renames the file over `target` in one step: false when that failed (it stays here).
    bool moveTo(const QString& target);

    // Removes the partial files that no running writer holds: every ".vt-*<suffix>" in
    // `folder` (none when it is empty), and every one that a killed writer noted anywhere.
    static void sweep(const QString& folder, const QString& suffix);

    // Removes every partial file of this process that was not moved to its target, and
    // their notes: the program ends now, and no writer's scope ends to remove them. A
    // writer still under way (ffmpeg) ends with the program.
    static void removeAll();

private:
    PartialFile(QString path, QString note, int lock);
    QString path_;
    QString note_; // in the data folder: where the file lies
    int lock_ = -1;
    bool moved_ = false;
};
