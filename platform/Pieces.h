#pragma once

// A recording put together from MPEG-TS files joined one after the other byte for byte, each
// piece's stamps starting again where the one before began. Read as one file, its stored times
// are shared by its pieces: ffmpeg's seek lands in whichever piece its search finds (or at the
// file's end, past the last piece's stamps), and reading on it moves each later piece to follow.
// So every reader of the recording (the player, stills, the film strip, waveforms, transcripts
// and the export) reads it as ffmpeg's concat demuxer joins its pieces: each from its own start,
// right after the one before, one time line. A join is where the stamps of the file's pictures
// and sound start again more than a second back.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace Pieces {

// Bytes [from, to) of the file, read as a file of its own for `length` seconds.
struct Piece {
    qint64 from = 0, to = 0;
    double length = 0;
    bool operator==(const Piece&) const = default;
};

// The pieces of the recording at `path`; none where it is not joined (or cannot be read).
// Found from a few dozen places in the file, once for the file as it stands.
std::vector<Piece> of(const QString& path);

// The URL of the concat demuxer's list of the recording's pieces (to be opened with the
// format "concat" and its option "safe" set to 0); none where it is not joined.
std::optional<QByteArray> joinedUrl(const QString& path);

// What ffmpeg is given to read the recording: its input options and "-i" with the file (or the
// list of its pieces).
QStringList ffmpegInput(const QString& path);

} // namespace Pieces
