#include "platform/media/Playing.h"

#include "core/project/Fail.h"
#include "platform/media/Av.h"
#include "platform/media/Media.h"
#include "platform/media/Reader.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/frame.h>
}

namespace {

// How much the thread decodes ahead of what is played: a second of sound, and pictures up
// to this many bytes (two seconds of pictures shown in a window; under half a second of
// 1080p shown at its own size). A cut's end is crossed by seeking and decoding from the
// next cut's key frame while the player plays these.
constexpr double soundAhead = 1.0;
constexpr std::size_t pictureBytes = std::size_t(96) << 20;
// Pictures wanted read on only while the sound read ahead of them is shorter than this: a
// file whose pictures stop early (or lie far behind its sound) would have all of its sound
// waiting for them.
constexpr double soundMost = 4.0;
// Catching up with the player's clock. A picture decoded after its time is left out unless
// none was handed over for this long; decoding leaves out the pictures no other refers to
// while pictures come late or the sound handed over reaches less than `soundShort` past the
// clock, and everything up to the next key frame while they come `farBehind` late or the
// sound reaches less than `soundDry` (the output holds a quarter of a second, and one large
// picture may take a few tenths to decode) or than the last read took. For `startingFor`
// after the clock starts the sound has not had the time to get ahead (the clock stands while
// it is short, so this is counted in time passed): only the last read counts then.
constexpr double stillEvery = 0.1;
constexpr double farBehind = 0.5;
constexpr double soundShort = 0.5;
constexpr double soundDry = 0.45;
constexpr qint64 startingFor = 200; // ms
// A span whose data stops this close before its end ends there: containers round the
// lengths of their streams, and a picture may end before its sound.
constexpr double endsWithin = 0.5;
// Sound whose stamps leave a gap longer than this is put in its place after silence; stamps
// that go back by more than `soundBreak` start anew, and data read this far past a span
// holds none of its sound.
constexpr double soundGap = 0.002;
constexpr double soundBreak = 1.0;

QString cannotPlay(const QString& path)
{
    return QFileInfo(path).fileName()
           + QStringLiteral(" cannot be played: it is damaged, or its picture or sound is stored in a way "
                            "this computer cannot play.");
}

} // namespace

Playing::Playing(QString path, bool sound, std::function<void()> wake)
    : path_(std::move(path)), sound_(sound), wake_(std::move(wake)), scaler_(std::make_unique<Media::av::Scaler>()),
      thread_([this] { run(); })
{
}

Playing::~Playing()
{
    {
        std::lock_guard guard(lock);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void Playing::order(Order order)
{
    {
        std::lock_guard guard(lock);
        latest_ = order.id;
        next_ = std::move(order);
    }
    changed_.notify_all();
}

void Playing::taken()
{
    changed_.notify_all();
}

void Playing::setBox(QSize box)
{
    box_ = box.isEmpty() ? 0 : int64_t(box.width()) << 32 | int64_t(box.height());
}

void Playing::post(const std::function<void(Mailbox&)>& change, bool news)
{
    {
        std::lock_guard guard(lock);
        change(mail);
    }
    if (news)
        wake_();
}

void Playing::run()
{
    open();
    for (;;) {
        Order next;
        {
            std::unique_lock guard(lock);
            changed_.wait(guard, [this] { return stopping_ || next_.has_value(); });
            if (stopping_)
                return;
            next = std::move(*next_);
            next_.reset();
            current_ = next.id;
        }
        if (!reader_)
            continue; // the player was told it cannot be played
        try {
            if (next.play)
                play(next);
            else
                show(next);
        } catch (const Fail&) {
            // A read cut short by a newer order; else the file went bad under the player.
            if (!superseded())
                post([this](Mailbox& m) { m.failure = cannotPlay(path_); }, true);
        }
    }
}

void Playing::open()
{
    try {
        const MediaInfo info = Media::probeNow(path_);
        // Reading stops for the newest order, once one is being carried out.
        reader_ = std::make_unique<Media::Reader>(path_, Media::Reader::Use::playing, sound_,
                                                  [this] { return stopping_ || (current_ != 0 && latest_ != current_); });
        if (!reader_->hasPictures() && !reader_->hasSound())
            throw Fail(cannotPlay(path_));
        facts_.length = info.duration;
        facts_.dataEnd = info.dataEnd;
        facts_.frame = reader_->frameLength();
        facts_.soundRate = reader_->soundRate();
        rotation_ = reader_->rotation();
        scaler_->quick = true;
        if (reader_->hasPictures() && !info.naturalSize.isEmpty())
            facts_.shape = Media::av::uprightSize(info.naturalSize, rotation_, {});
        post([this](Mailbox& m) { m.facts = facts_; }, true);
    } catch (const Fail&) {
        reader_.reset();
        if (!stopping_)
            post([this](Mailbox& m) { m.failure = cannotPlay(path_); }, true);
    }
}

void Playing::show(const Order& order)
{
    Answer answer{order.id, std::nullopt, std::nullopt};
    // Past where the data is known to stop, the data's last picture shows (not the picture of
    // whatever time was shown before), and the answer says why.
    if (facts_.dataEnd && order.limit > *facts_.dataEnd + facts_.frame + 0.001) {
        answer.frame = lastOfData();
        if (superseded())
            return;
        answer.refusal = Media::endsEarly(path_, *facts_.dataEnd);
    } else {
        auto found = reader_->seek(order.limit, order.from);
        if (superseded())
            return;
        if (found.picture && found.pastData) {
            keepLast(std::move(*found.picture));
            if (superseded())
                return;
            answer.frame = lastOfData_;
            answer.refusal = Media::endsEarly(path_, *facts_.dataEnd);
        } else if (found.picture) {
            answer.frame = frameOf(found.picture->frame.get(), found.picture->at, found.picture->at);
        }
    }
    const auto dataEnd = facts_.dataEnd;
    post([&](Mailbox& m) {
        m.answer = std::move(answer);
        m.dataEnd = dataEnd;
    }, true);
}

void Playing::play(const Order& order)
{
    const bool whole = order.spans.empty();
    const int count = whole ? 1 : int(order.spans.size());
    double offset = 0; // line time where the span starts
    for (int k = 0; k < order.span && k < count; ++k)
        offset += order.spans[k].length();
    post([&](Mailbox& m) {
        m.playing = order.id;
        m.frames.clear();
        m.sound.clear();
        m.soundFrames = 0;
        m.framesDone = false;
        m.soundDone = false;
        m.end.reset();
        m.stopped.reset();
        m.clock.reset();
    }, false);

    std::optional<double> lastPicture; // recording time of the last picture handed over
    const auto finish = [&](double line, std::optional<QString> stopped) {
        if (stopped)
            facts_.dataEnd = std::min(facts_.dataEnd.value_or(HUGE_VAL), lastPicture.value_or(0.0));
        const auto dataEnd = facts_.dataEnd;
        post([&](Mailbox& m) {
            m.framesDone = true;
            m.soundDone = true;
            m.end = line;
            m.stopped = std::move(stopped);
            m.dataEnd = dataEnd;
        }, true);
    };
    double handedLine = -HUGE_VAL; // line time of the last picture handed over
    bool skippedSinceHand = false;  // decoding left pictures out since then
    const auto hand = [&](const Media::Picture& picture, double line) {
        Frame frame = frameOf(picture.frame.get(), line, picture.at);
        lastPicture = picture.at;
        handedLine = line;
        skippedSinceHand = false;
        post([&](Mailbox& m) { m.frames.push_back(std::move(frame)); }, false);
    };
    // The latest picture left out as late since one was handed over: the last of a span shows
    // all the same, so that its end stands on its own last picture.
    std::optional<std::pair<Media::Picture, double>> leftOut;
    const auto handLeftOut = [&] {
        if (leftOut)
            hand(leftOut->first, leftOut->second);
        leftOut.reset();
    };
    QElapsedTimer clockFrom; // since the player's clock was first told
    bool newSinceSkip = true;        // a picture was decoded since decoding last skipped ahead
    double readTook = 0;             // seconds the last read took

    for (int k = order.span; k < count; ++k) {
        leftOut.reset();
        const Span span = whole ? Span{0, HUGE_VAL} : order.spans[k];
        const double start = k == order.span ? order.from : span.start;
        const auto lineOf = [&](double t) { return whole ? t : offset + (t - span.start); };
        // At a span's end (the Short's end) its last picture, not the one that follows the cut.
        const double limit = start >= span.end ? endingLimit(span.end) : showingLimit(start);
        // A run that starts past the data shows the data's last picture where it stands; one
        // that reaches past it from a span it played keeps that span's last.
        const bool first = k == order.span;
        if (facts_.dataEnd && limit > *facts_.dataEnd + facts_.frame + 0.001) {
            if (first) {
                auto last = lastOfData();
                if (superseded())
                    return;
                if (last) {
                    last->line = lineOf(start);
                    post([&](Mailbox& m) { m.frames.push_back(std::move(*last)); }, false);
                }
            }
            lastPicture = facts_.dataEnd;
            return finish(lineOf(start), Media::endsEarly(path_, *facts_.dataEnd));
        }
        auto found = reader_->seek(limit, start);
        if (superseded())
            return;
        if (found.picture && found.pastData) {
            keepLast(std::move(*found.picture));
            if (superseded())
                return;
            if (first && lastOfData_) {
                Frame last = *lastOfData_;
                last.line = lineOf(start);
                post([&](Mailbox& m) { m.frames.push_back(std::move(last)); }, false);
            }
            lastPicture = facts_.dataEnd;
            return finish(lineOf(start), Media::endsEarly(path_, *facts_.dataEnd));
        }
        bool picturesDone = !found.picture;
        double latest = -HUGE_VAL; // the picture of this span handed last
        double decodedLine = lineOf(start); // of the latest picture decoded in this span
        if (found.picture) {
            hand(*found.picture, lineOf(std::clamp(found.picture->at, start, span.end)));
            latest = found.picture->at;
        }
        const double until = whole ? HUGE_VAL : endingLimit(span.end);
        // The sound, counted in samples from the start so that spans join to the sample.
        const int rate = reader_->soundRate();
        int64_t played = 0;
        const int64_t due = whole ? INT64_MAX : std::llround((span.end - start) * rate);
        const auto cursor = [&] { return start + double(played) / std::max(1, rate); };
        bool soundDone = !reader_->hasSound() || due <= 0;
        const auto give = [&](std::vector<int16_t> samples) {
            Chunk chunk{std::move(samples), lineOf(cursor())};
            const int frames = int(chunk.samples.size() / 2);
            played += frames;
            post([&](Mailbox& m) {
                m.soundFrames += frames;
                m.sound.push_back(std::move(chunk));
            }, false);
            soundDone = played >= due;
        };
        // Silence up to recording time `to` (within the span), a tenth of a second at a time
        // as the player takes it: a gap in the stamps may last minutes. False once superseded.
        const auto silence = [&](double to) {
            const int64_t target = std::min<int64_t>(due, std::llround((to - start) * rate));
            while (played < target) {
                {
                    std::unique_lock guard(lock);
                    changed_.wait(guard, [&] { return superseded() || mail.soundFrames < soundAhead * rate; });
                    if (superseded())
                        return false;
                }
                give(std::vector<int16_t>(std::size_t(std::min<int64_t>(target - played, std::max(1, rate / 10))) * 2, 0));
            }
            return true;
        };
        const int cap = std::clamp(frameBytes_ > 0 ? int(pictureBytes / frameBytes_) : 30, 4, 60);
        while (!picturesDone || !soundDone) {
            // Decodes on while it wants what is not yet ahead enough.
            bool padding = false;
            std::optional<double> now; // the player's clock
            {
                std::unique_lock guard(lock);
                for (;;) {
                    if (superseded())
                        return;
                    const int pictures = int(mail.frames.size());
                    const bool wantPictures = !picturesDone && pictures < cap;
                    const bool wantSound = !soundDone && mail.soundFrames < soundAhead * rate;
                    if ((wantPictures && mail.soundFrames < soundMost * std::max(1, rate))
                        || (wantSound && pictures < 2 * cap)) {
                        now = mail.clock;
                        break;
                    }
                    // Sound that the file keeps far behind its pictures is not waited for (the
                    // player would stand with pictures due): silence takes its place.
                    if (wantSound && lastPicture && cursor() < *lastPicture) {
                        padding = true;
                        break;
                    }
                    changed_.wait(guard);
                }
            }
            if (padding) {
                if (!silence(*lastPicture))
                    return;
                continue;
            }
            if (now && !clockFrom.isValid())
                clockFrom.start();
            // (After a skip to a key frame, how late the pictures come is known again once one
            // of them is decoded.)
            using Skip = Media::Reader::Skip;
            Skip skip = Skip::none;
            if (now && !picturesDone && reader_->skipping() == Skip::toKey) {
                skip = Skip::toKey;
            } else if (now && !picturesDone && newSinceSkip) {
                const double behind = *now - (decodedLine + facts_.frame);
                const bool started = clockFrom.elapsed() >= startingFor;
                const bool soundEnded = reader_->reached() > cursor() + soundBreak;
                const double reach = soundDone || soundEnded || !reader_->hasSound() ? HUGE_VAL : lineOf(cursor()) - *now;
                // (A Short's cut skips no further than its unreferenced pictures: its next key
                // frame may lie past its end, and its last picture must show there.)
                if (whole && (behind > farBehind || reach < readTook || (started && reach < soundDry))) {
                    skip = Skip::toKey;
                    newSinceSkip = false;
                } else if (behind > 0 || (started && reach < soundShort)) {
                    skip = Skip::unreferenced;
                }
            }
            reader_->skip(skip);
            skippedSinceHand = skippedSinceHand || skip != Skip::none;
            QElapsedTimer reading;
            reading.start();
            auto item = reader_->next();
            readTook = double(reading.nsecsElapsed()) / 1e9;
            if (superseded())
                return;
            if (!item) {
                handLeftOut();
                // The end of the data: within the span's last moments, the span's end; short of
                // it, the data stops there, and so does playing.
                const double reached = std::max(reader_->reached(), cursor());
                const double stop = std::min(reached, span.end);
                if (!silence(stop))
                    return;
                if (whole ? reached < facts_.length - 1.0 : span.end - reached > endsWithin) {
                    // Where decoding left pictures out since the last one handed, the data's
                    // own last picture is found, so that it shows and is named.
                    if (skippedSinceHand) {
                        facts_.dataEnd = reached;
                        const auto last = lastOfData();
                        if (superseded())
                            return;
                        if (last && (!lastPicture || last->at > *lastPicture)) {
                            Frame frame = *last;
                            frame.line = lineOf(std::clamp(last->at, span.start, span.end));
                            lastPicture = last->at;
                            post([&](Mailbox& m) { m.frames.push_back(std::move(frame)); }, false);
                        }
                    }
                    lastPicture = lastPicture.value_or(std::max(0.0, start));
                    return finish(lineOf(stop), Media::endsEarly(path_, *lastPicture));
                }
                if (whole)
                    return finish(lineOf(stop), std::nullopt);
                if (!silence(span.end))
                    return;
                break;
            }
            if (auto* picture = std::get_if<Media::Picture>(&*item)) {
                // (A picture stamped before the one handed last, as where two recordings were
                // joined, would flash up out of turn: it is left out.)
                // One that comes after its time (the next one's is there) is left out, as long
                // as the picture is not left standing for it.
                if (picturesDone || picture->at >= until) {
                    if (!picturesDone)
                        handLeftOut();
                    picturesDone = true;
                } else if (picture->at > latest) {
                    const double line = lineOf(std::max(picture->at, span.start));
                    decodedLine = line;
                    newSinceSkip = true;
                    if (!(now && line + facts_.frame <= *now && line - handedLine < stillEvery)) {
                        hand(*picture, line);
                        leftOut.reset();
                    } else {
                        leftOut.emplace(std::move(*picture), line);
                    }
                    latest = picture->at;
                }
            } else if (!soundDone) {
                const auto& sound = std::get<Media::Sound>(*item);
                // In its place on the span: after silence where the stamps leave a gap, without
                // what overlaps the sound already given, and up to the span's end. Stamps that
                // go back by more than a moment start anew where the sound stands.
                const double gap = sound.at - cursor();
                if (gap > soundGap && !silence(sound.at))
                    return;
                const int64_t drop =
                    gap < 0 && gap > -soundBreak ? std::min<int64_t>(sound.frames(), std::llround(-gap * rate)) : 0;
                const int64_t keep = std::min<int64_t>(sound.frames() - drop, due - played);
                if (keep > 0)
                    give(std::vector<int16_t>(sound.samples.begin() + drop * 2, sound.samples.begin() + (drop + keep) * 2));
            }
            // Where the file's data has gone on well past the span, no more of its sound comes:
            // the sound track ended before it.
            if (!soundDone && !whole && reader_->reached() > span.end + soundBreak && !silence(span.end))
                return;
            // Where it has gone on well past the sound handed over, the sound track ended before
            // the pictures: silence keeps up with them, so that the clock goes on.
            if (!soundDone && whole && reader_->hasSound() && lastPicture && cursor() < *lastPicture
                && reader_->reached() > cursor() + soundBreak && !silence(*lastPicture))
                return;
        }
        offset += whole ? 0 : span.length();
    }
    finish(offset, std::nullopt);
}

// The data's last picture, where the data is known to stop short of the recording's length:
// what shows wherever a time past it is asked for. Decoded once, from the key frame before
// it, and kept. None where it cannot be decoded, or once a newer order came.
std::optional<Playing::Frame> Playing::lastOfData()
{
    if (!facts_.dataEnd)
        return std::nullopt;
    if (lastOfData_ && lastOfDataFor_ == facts_.dataEnd)
        return lastOfData_;
    auto found = reader_->seek(showingLimit(*facts_.dataEnd), *facts_.dataEnd);
    if (superseded() || !found.picture)
        return std::nullopt;
    keepLast(std::move(*found.picture));
    if (superseded())
        return std::nullopt;
    return lastOfData_;
}

// Keeps the last picture of the data as the one to show past it, and its time as where the
// data ends: `picture`, or one the reader finds after it on to the end of the data (where the
// end was measured from an index, a picture stored before it may be shown after it). Not
// once a newer order came.
void Playing::keepLast(Media::Picture picture)
{
    while (auto item = reader_->next())
        if (auto* later = std::get_if<Media::Picture>(&*item); later && later->at > picture.at)
            picture = std::move(*later);
    if (superseded())
        return;
    facts_.dataEnd = picture.at;
    lastOfData_ = frameOf(picture.frame.get(), picture.at, picture.at);
    lastOfDataFor_ = facts_.dataEnd;
}

Playing::Frame Playing::frameOf(const AVFrame* frame, double line, double at)
{
    // Scaled to the size it is shown at, turned upright and made RGB here, once, on this
    // thread: the view paints it as it comes (a full-size picture converted on the main
    // thread cost more than decoding it).
    const int64_t box = box_;
    const QSize size = Media::av::uprightSize(QSize(frame->width, frame->height), rotation_,
                                              QSize(int(box >> 32), int(box & 0xffffffff)));
    // The pixels of QImage::Format_RGB32, as the stills are drawn.
    QVideoFrame picture(QVideoFrameFormat(size, QVideoFrameFormat::pixelFormatFromImageFormat(QImage::Format_RGB32)));
    if (!picture.map(QVideoFrame::WriteOnly))
        return Frame{QVideoFrame(), line, at};
    const bool drawn = Media::av::drawUpright(frame, rotation_, size, *scaler_, picture.bits(0), picture.bytesPerLine(0));
    picture.unmap();
    if (!drawn)
        return Frame{QVideoFrame(), line, at};
    picture.setStartTime(std::llround(at * 1e6));
    frameBytes_ = std::size_t(size.width()) * std::size_t(size.height()) * 4;
    return Frame{std::move(picture), line, at};
}
