#pragma once

// Small stills of one recording, made on request by a decoder that stays open.

#include <QFuture>
#include <QImage>
#include <QSize>
#include <QString>
#include <memory>
#include <optional>
#include <thread>

// What the film strip asks for its stills (a fake in tests).
class StillSource {
public:
    virtual ~StillSource() = default;
    // The picture at `second`, or a key frame at most a second away from it, upright and
    // fitted into the source's box. The future always finishes with one result: nothing
    // when no picture can be made there (or the source was destroyed first).
    virtual QFuture<std::optional<QImage>> still(int second) = 0;
};

// One decoder over a recording on a worker thread of its own, opened by the first request.
// Waiting requests are served in time order, from where the last one left off: each
// still is the nearest key frame read through the container's index (one packet, one
// picture), or, where no key frame lies within a second, the frames decoded forward to it
// (skipping those no other frame refers to), going on from the last one when the next
// request lies ahead in the same stretch.
class StillDecoder final : public StillSource {
public:
    StillDecoder(QString path, QSize box);
    // Stops the worker at its next packet; requests not yet served finish with nothing.
    ~StillDecoder() override;
    StillDecoder(const StillDecoder&) = delete;
    StillDecoder& operator=(const StillDecoder&) = delete;

    QFuture<std::optional<QImage>> still(int second) override;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
    std::thread worker_;
};
