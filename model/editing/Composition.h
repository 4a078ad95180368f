#pragma once

#include "core/project/Records.h"
#include "platform/Cancel.h"
#include "platform/media/Media.h"
#include "platform/media/ShortLine.h"

#include <QCoro/QCoroTask>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

// The cuts of a Short laid back to back from 0: what the main player plays in Short mode
// and what an export renders. Each piece is a stretch of the recording on a grid of
// 1/600 s, held inside the recording's length.
struct Composition {
    QString source;
    std::vector<Span> pieces;
    int videoStream = 0;
    std::optional<int> audioStream; // none: the recording has no sound
    QSize size;                     // the stored picture, before `transform`
    Transform transform;            // turns the picture upright
    double frameRate = 0;           // of the recording; 0: not known
    std::optional<double> dataEnd;  // where the recording's pictures stop short of its length

    // None when there is nothing to play: no cuts, or none that covers any of the recording.
    // Each cut is held within the longer of the file's length and `madeFrom`, the length of
    // the recording when its project was made (0: not known). A file that states no length
    // (MPEG-TS, fragmented MP4) is measured from where its data stops, so a copy of it cut
    // off would otherwise hold a cut past its data to nothing, or shorten it, in silence:
    // such a cut is kept, and the export says where the data ends.
    static std::optional<Composition> of(const std::vector<Cut>& cuts, const MediaInfo& media, double madeFrom = 0);
    // What plays of `cut` in a recording of `duration` seconds (0: not known): held inside
    // it, on the grid; empty when nothing of it lies there. The Short's time line, its
    // player and its subtitles all lay out these rather than the cuts as stored.
    static Span held(const Cut& cut, double duration);
    // The Short's time line: one span per cut, each as `held`, so span k is cut k. Every
    // Short time (the player's, the playhead kept by an edit, a cut's place) is counted on it.
    static ShortLine line(const std::vector<Cut>& cuts, double duration);
    // The Short time of recording time `r` on `line`: in the first span that holds it, both
    // ends included, with the edges compared on the grid, so that a cut stored as starting at
    // 3.001 s (played from its nearest grid point) still holds 3.001 s. None when no span does.
    static std::optional<double> shortTime(const ShortLine& line, double r);
    double duration() const;

    // The ffmpeg arguments that render it into `output` as H.264/AAC MPEG-4, upright, at
    // the recording's size, with progress lines on standard output. Every piece is read by
    // seeking in its own input, so the work does not grow with where the pieces lie.
    // Each piece holds the frames the player shows over it: from the frame shown at its
    // start to the last that starts before its end, each placed at the Short time the player
    // shows it at (so the first may be shown for less than a frame's time), and the sound
    // of exactly its stretch. `frames` holds what the recording's packets tell of each piece
    // (`Media::stretches` of `pieces`); without it the pieces are cut at their times.
    QStringList arguments(const QString& output, const std::vector<StretchFrames>& frames = {}) const;

    bool operator==(const Composition&) const = default;
};

// Renders `composition` into the MP4 at `target`: written beside it under a temporary name
// and renamed over it only when complete and holding every frame of its pieces, so a failed
// or cancelled export leaves whatever stood there untouched. `progress` hears the fraction done about every 0.2 s; `cancel`
// stops ffmpeg.
QCoro::Task<> render(Composition composition, QString target, std::function<void(double)> progress, Cancel cancel);
