#pragma once

// What the player's back end plays of a recording in MPEG-TS (.ts, .mts, .m2ts). Qt 6.4
// seeks its GStreamer back end without asking for accuracy, which the other demuxers give
// all the same; the MPEG-TS one then starts a second or two early, at a frame that is no
// key frame (a grey picture). Such a recording plays from an exact copy in Matroska, made
// on a worker thread in the cache folder, shared by the players that show it and removed
// when the last of them lets go. Its stamps count recording time.

#include <QFuture>
#include <QString>
#include <memory>

class PlayableCopy {
public:
    // Whether the recording at `path` plays from a copy.
    static bool wanted(const QString& path);
    // The copy of the recording as it stands now: a file replaced, or still growing, since
    // a copy was made of it gets a copy of its own.
    static std::shared_ptr<PlayableCopy> of(const QString& recording);

    // Stops the making at its next packet; the file goes.
    ~PlayableCopy();
    PlayableCopy(const PlayableCopy&) = delete;
    PlayableCopy& operator=(const PlayableCopy&) = delete;

    const QString& path() const;
    // Finishes true once the copy is made, false when none could be (too little room on
    // the disk, a recording that cannot be read): then the recording plays as it is.
    const QFuture<bool>& made() const;
    // How much of the recording has been copied so far, from 0 to 1.
    double done() const;

private:
    struct Making;
    PlayableCopy() = default;
    std::shared_ptr<Making> making_;
};
