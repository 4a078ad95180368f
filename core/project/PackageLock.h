#pragma once

// One process at a time works on a package. A window and a command-line job each keep the
// whole project in memory and save it whole after every change, so two processes with one
// project open would each save over what the other saved. The process that opens a project
// holds its package until it closes it; another process is refused it meanwhile.
//
// The hold is an flock on a hidden file beside the package (".<package name>.lock"), which
// the holder removes as it lets go. It is taken beside the package's own path, links
// followed, so every process that reaches the package (whatever its environment, user, or
// path or link to it) meets the same lock. The kernel lets go of the lock when the process
// ends, however it ends, so a program that crashed never keeps anyone from their project;
// its file stays until the next hold takes it over.
// Used on the main thread only.

#include <QString>
#include <memory>
#include <optional>

class PackageLock {
public:
    // A hold on `package` for this process, or nothing when another process holds it. The
    // holds of one process on one package share one lock, which goes with the last of them.
    // Where no lock can be made (a folder that cannot be written, a file system without
    // locks) the hold is given all the same: that must not lock the user out of their own
    // work, and a save still never writes over a document that another process changed.
    static std::optional<PackageLock> take(const QString& package);

    // Lets go of every hold of this process and removes their files: for a process that
    // ends without tearing down what holds them.
    static void releaseAll();

    // The sentence for a package that another process holds.
    static QString refusal(const QString& package);

    struct Held;

private:
    explicit PackageLock(std::shared_ptr<Held> held) : held_(std::move(held)) {}
    std::shared_ptr<Held> held_;
};
