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
// next cut's key frame while the player plays these. The sound is read first while it is
// short of its second, whatever the pictures (their packets wait undecoded in the reader).
constexpr double soundAhead = 1.0;
constexpr std::size_t pictureBytes = std::size_t(96) << 20;
// Pictures wanted read on only while the sound read ahead of them (with them, in the file)
// is shorter than this: a file whose pictures stop early (or lie far behind its sound) would
// have all of its sound waiting for them.
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
// that go back by more than `soundBreak` start anew.
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

// What the spans of a line share while it plays.
struct Playing::Line {
    explicit Line(const Order& order)
        : order(order), whole(order.spans.empty()), count(whole ? 1 : int(order.spans.size()))
    {
    }
    const Order& order;
    const bool whole;
    const int count;
    double offset = 0;                 // line time where the span walked starts
    // Recording time of the last picture handed over (past a join, as moved: see Walk::follow).
    std::optional<double> lastPicture;
    double handedLine = -HUGE_VAL;     // line time of the last picture handed over
    bool skipped = false;              // decoding left pictures out after the last it gave
    QElapsedTimer clockFrom;           // since the player's clock was first told
    bool newSinceSkip = true;          // a picture was decoded since decoding last skipped ahead
    double readTook = 0;               // seconds the last read of pictures took
};

// One span of a line played: its pictures and its sound handed over, from its start to its
// end, as the player takes them. The sound is read first whenever it runs short: it never
// waits for pictures to be decoded, wherever the file keeps it.
class Playing::Walk {
public:
    Walk(Playing& playing, Line& line, int k);
    // False where the line ended in this span (and the end was told), or a newer order came.
    bool run();

private:
    enum class Want { nothing, sound, silence, pictures };
    bool begin();
    Want wanted() const;
    std::optional<double> padTo() const;
    Media::Reader::Skip skipFor(std::optional<double> now);
    void take(Media::Picture& picture, std::optional<double> now);
    void place(Media::Picture& picture, std::optional<double> now);
    bool take(const Media::Sound& sound);
    bool dataEnded();
    struct Stamps;
    double follow(Stamps& stamps, double at, double length);
    void hand(const Media::Picture& picture, double line, double at);
    void handLeftOut();
    void give(std::vector<int16_t> samples);
    bool silence(double to);
    bool finish(double end, std::optional<QString> stopped);
    double lineOf(double t) const { return l_.whole ? t : l_.offset + (t - span_.start); }
    // The recording time up to which sound was handed over.
    double cursor() const { return start_ + double(played_) / std::max(1, rate_); }
    // The sample of the span at recording time `t` (within it).
    int64_t sampleAt(double t) const { return std::min<int64_t>(due_, std::llround((t - start_) * rate_)); }

    Playing& p_;
    Line& l_;
    const Span span_;
    const double start_;
    const bool first_;
    const double until_; // pictures from here on lie past the span
    const int rate_;
    // The sound, counted in samples from the start so that spans join to the sample.
    const int64_t due_;
    int64_t played_ = 0;
    bool soundDone_;
    // Where two recordings were joined, the stamps start again: what follows goes on from where
    // the line stands, its sound and (on a whole recording's line) its pictures moved alike, so
    // that they keep together. The stamps of each as followed (see `follow`).
    struct Stamps {
        double move = 0;         // how far they are moved on the line
        double last = -HUGE_VAL; // where they stand
        // Where they stood before they last went back (its move and stamp), and the stamp they
        // went back to: a stamp gone astray comes back there within a moment.
        struct Left {
            double move, last, to;
        };
        std::optional<Left> left;
    };
    Stamps soundStamps_, pictureStamps_;
    // A join that one of them came to and the other has yet to: whose, and its move.
    std::optional<std::pair<const Stamps*, double>> join_;
    // The sound asked for did not come: it ended before the pictures, or the file keeps it
    // further behind them than the reader waits. Silence keeps up with the pictures then.
    bool soundStuck_ = false;
    bool picturesDone_ = false;
    int cap_ = 4;                      // pictures decoded ahead
    double latest_ = -HUGE_VAL;        // the picture of this span handed last (as moved)
    double decodedLine_;               // of the latest picture decoded in this span
    // The latest picture left out as late since one was handed over: the last of a span shows
    // all the same, so that its end stands on its own last picture. With its line time and
    // its time as moved.
    struct LeftOut {
        Media::Picture picture;
        double line;
        double at;
    };
    std::optional<LeftOut> leftOut_;
    // A picture stamped more than a moment after the one taken before it (stamped `stampBefore_`)
    // waits for the next: see `take`.
    std::optional<Media::Picture> ahead_;
    double stampBefore_ = -HUGE_VAL;
};

Playing::Walk::Walk(Playing& playing, Line& line, int k)
    : p_(playing), l_(line), span_(line.whole ? Span{0, HUGE_VAL} : line.order.spans[k]),
      start_(k == line.order.span ? line.order.from : span_.start), first_(k == line.order.span),
      until_(line.whole ? HUGE_VAL : endingLimit(span_.end)), rate_(playing.reader_->soundRate()),
      due_(line.whole ? INT64_MAX : std::llround((span_.end - start_) * rate_)),
      soundDone_(!playing.reader_->hasSound() || due_ <= 0), decodedLine_(lineOf(start_))
{
}

bool Playing::Walk::run()
{
    if (!begin())
        return false;
    using Skip = Media::Reader::Skip;
    while (!picturesDone_ || !soundDone_) {
        // Decodes on while it wants what is not yet ahead enough.
        Want want = Want::nothing;
        std::optional<double> now; // the player's clock
        {
            std::unique_lock guard(p_.lock);
            while ((want = wanted()) == Want::nothing && !p_.superseded())
                p_.changed_.wait(guard);
            if (p_.superseded())
                return false;
            now = p_.mail.clock;
        }
        if (want == Want::silence) {
            if (!silence(*padTo()))
                return false;
            continue;
        }
        if (now && !l_.clockFrom.isValid())
            l_.clockFrom.start();
        const bool pictures = want == Want::pictures;
        const Skip skip = pictures ? skipFor(now) : Skip::none;
        if (pictures)
            p_.reader_->skip(skip);
        QElapsedTimer reading;
        reading.start();
        auto item = p_.reader_->next(pictures);
        if (pictures)
            l_.readTook = double(reading.nsecsElapsed()) / 1e9;
        if (p_.superseded())
            return false;
        if (!item && (pictures || p_.reader_->atEnd()))
            return dataEnded();
        if (!item) {
            soundStuck_ = true;
            continue;
        }
        if (auto* picture = std::get_if<Media::Picture>(&*item)) {
            soundStuck_ = false; // the pictures moved on, and the reader's hold with them
            l_.skipped = skip != Skip::none;
            take(*picture, now);
        } else {
            l_.skipped = l_.skipped || skip != Skip::none;
            if (!take(std::get<Media::Sound>(*item)))
                return false;
        }
    }
    return true;
}

// Finds the span's first picture and hands it over. False where the line ends there.
bool Playing::Walk::begin()
{
    // At a span's end (the Short's end) its last picture, not the one that follows the cut.
    const double limit = start_ >= span_.end ? endingLimit(span_.end) : showingLimit(start_);
    // A run that starts past the data shows the data's last picture where it stands; one
    // that reaches past it from a span it played keeps that span's last.
    RecordingFacts& facts = p_.facts_;
    if (facts.dataEnd && limit > *facts.dataEnd + facts.frame + 0.001) {
        if (first_) {
            auto last = p_.lastOfData();
            if (p_.superseded())
                return false;
            if (last) {
                last->line = lineOf(start_);
                p_.post([&](Mailbox& m) { m.frames.push_back(std::move(*last)); }, false);
            }
        }
        l_.lastPicture = facts.dataEnd;
        return finish(lineOf(start_), Media::endsEarly(p_.path_, *facts.dataEnd));
    }
    auto found = p_.reader_->seek(limit, start_);
    if (p_.superseded())
        return false;
    if (found.picture && found.pastData) {
        p_.keepLast(std::move(*found.picture));
        if (p_.superseded())
            return false;
        if (first_ && p_.lastOfData_) {
            Frame last = *p_.lastOfData_;
            last.line = lineOf(start_);
            p_.post([&](Mailbox& m) { m.frames.push_back(std::move(last)); }, false);
        }
        l_.lastPicture = facts.dataEnd;
        return finish(lineOf(start_), Media::endsEarly(p_.path_, *facts.dataEnd));
    }
    l_.skipped = false;
    picturesDone_ = !found.picture;
    if (found.picture) {
        hand(*found.picture, lineOf(std::clamp(found.picture->at, start_, span_.end)), found.picture->at);
        latest_ = found.picture->at;
        pictureStamps_.last = found.picture->at;
        stampBefore_ = found.picture->at;
    }
    cap_ = std::clamp(p_.frameBytes_ > 0 ? int(pictureBytes / p_.frameBytes_) : 30, 4, 60);
    return true;
}

// What to do next, as the mailbox stands (under its lock): read sound where it runs short,
// else pictures where fewer are ahead than their bound.
Playing::Walk::Want Playing::Walk::wanted() const
{
    const Mailbox& m = p_.mail;
    const bool sound = !soundDone_ && m.soundFrames < soundAhead * rate_;
    if (sound && !soundStuck_)
        return Want::sound;
    if (sound && padTo() && sampleAt(*padTo()) > played_)
        return Want::silence;
    if (!picturesDone_ && int(m.frames.size()) < cap_ && m.soundFrames < soundMost * std::max(1, rate_))
        return Want::pictures;
    return Want::nothing;
}

// Where silence stands in for sound that did not come: as far as the pictures handed over,
// and once they reached a span's end, to its end.
std::optional<double> Playing::Walk::padTo() const
{
    if (picturesDone_ && !l_.whole)
        return span_.end;
    return l_.lastPicture;
}

Media::Reader::Skip Playing::Walk::skipFor(std::optional<double> now)
{
    using Skip = Media::Reader::Skip;
    // (After a skip to a key frame, how late the pictures come is known again once one of
    // them is decoded.)
    if (!now)
        return Skip::none;
    if (p_.reader_->skipping() == Skip::toKey)
        return Skip::toKey;
    if (!l_.newSinceSkip)
        return Skip::none;
    const double behind = *now - (decodedLine_ + p_.facts_.frame);
    const bool started = l_.clockFrom.elapsed() >= startingFor;
    const double reach = soundDone_ || soundStuck_ || !p_.reader_->hasSound() ? HUGE_VAL : lineOf(cursor()) - *now;
    // (A Short's cut skips no further than its unreferenced pictures: its next key frame may
    // lie past its end, and its last picture must show there.)
    if (l_.whole && (behind > farBehind || reach < l_.readTook || (started && reach < soundDry))) {
        l_.newSinceSkip = false;
        return Skip::toKey;
    }
    if (behind > 0 || (started && reach < soundShort))
        return Skip::unreferenced;
    return Skip::none;
}

// A picture stamped more than a moment after the one before waits for the next: where that one
// comes back to within a moment of the one before, the picture went astray and is left out
// (else it would stand for seconds, and the pictures after it be taken for a recording joined
// on, or past a Short's cut, its end); where it does not, the stamps leave a gap, and both are
// taken.
void Playing::Walk::take(Media::Picture& picture, std::optional<double> now)
{
    if (ahead_) {
        Media::Picture held = std::move(*ahead_);
        ahead_.reset();
        if (picture.at >= held.at - soundBreak || std::fabs(picture.at - stampBefore_) >= soundBreak)
            place(held, now);
    }
    if (picture.at > stampBefore_ + soundBreak && stampBefore_ > -HUGE_VAL) {
        ahead_ = std::move(picture);
        return;
    }
    place(picture, now);
}

void Playing::Walk::place(Media::Picture& picture, std::optional<double> now)
{
    if (picture.at >= until_) {
        handLeftOut();
        picturesDone_ = true;
        return;
    }
    stampBefore_ = picture.at;
    // On a whole recording's line a second recording joined to the first goes on after it (a
    // Short's cuts keep to recording time).
    const double at = picture.at + (l_.whole ? follow(pictureStamps_, picture.at, 0) : 0.0);
    // (A picture stamped before the one handed last, as where recordings were joined a
    // moment apart, would flash up out of turn: it is left out.)
    // One that comes after its time (the next one's is there) is left out, as long as the
    // picture is not left standing for it.
    if (at <= latest_)
        return;
    const double line = lineOf(std::max(at, span_.start));
    decodedLine_ = line;
    l_.newSinceSkip = true;
    latest_ = at;
    if (!(now && line + p_.facts_.frame <= *now && line - l_.handedLine < stillEvery)) {
        hand(picture, line, at);
        leftOut_.reset();
    } else {
        leftOut_.emplace(LeftOut{std::move(picture), line, at});
    }
}

// Follows the stamps of the sound or the pictures on to `at` (up to `at + length`), and gives
// how far they are moved. Where they go back by more than a moment, two recordings were
// joined: the second goes on from as far as the line reached, the sound and the pictures
// moved alike by whichever came to the join first. Where they come back to within a moment
// of where they stood before, a stamp or two went astray: moved as before.
double Playing::Walk::follow(Stamps& stamps, double at, double length)
{
    if (at < stamps.last - soundBreak) {
        stamps.left = Stamps::Left{stamps.move, stamps.last, at};
        if (join_ && join_->first != &stamps) {
            stamps.move = join_->second;
            join_.reset();
        } else {
            stamps.move = std::max(cursor(), latest_ + p_.facts_.frame) - at;
            join_.emplace(&stamps, stamps.move);
        }
    } else if (stamps.left && at > stamps.last + soundBreak && std::fabs(at - stamps.left->last) < soundBreak) {
        stamps.move = stamps.left->move;
        stamps.left.reset();
        if (join_ && join_->first == &stamps)
            join_.reset();
    } else if (stamps.left && at > stamps.left->to + soundBreak) {
        stamps.left.reset(); // on from the join a while: it holds
    }
    stamps.last = at + length;
    return stamps.move;
}

// Puts sound in its place on the span: after silence where the stamps leave a gap, without
// what overlaps the sound already given (silence stood in for sound the file kept too far
// behind its pictures), and up to the span's end. Stamps that go back by more than a moment
// from the file's own sound before them start a stretch moved on (two recordings joined).
// False once superseded.
bool Playing::Walk::take(const Media::Sound& sound)
{
    if (soundDone_)
        return true;
    const double at = sound.at + follow(soundStamps_, sound.at, double(sound.frames()) / std::max(1, rate_));
    const double gap = at - cursor();
    if (gap > soundGap && !silence(at))
        return false;
    const int64_t drop = gap < 0 ? std::min<int64_t>(sound.frames(), std::llround(-gap * rate_)) : 0;
    const int64_t keep = std::min<int64_t>(sound.frames() - drop, due_ - played_);
    if (keep > 0)
        give(std::vector<int16_t>(sound.samples.begin() + drop * 2, sound.samples.begin() + (drop + keep) * 2));
    return true;
}

// The end of the data: within the span's last moments, the span's end (true: on with the
// next); short of it, the data stops there, and so does playing.
bool Playing::Walk::dataEnded()
{
    if (ahead_) {
        place(*ahead_, std::nullopt); // the last picture of all
        ahead_.reset();
    }
    handLeftOut();
    // (Past a join, the reader's reach is counted by stamps that went back: the pictures
    // handed tell how far the line reached.)
    const double reached =
        std::max({p_.reader_->reached(), cursor(), pictureStamps_.move != 0 ? latest_ + p_.facts_.frame : -HUGE_VAL});
    const double stop = std::min(reached, span_.end);
    if (!silence(stop))
        return false;
    RecordingFacts& facts = p_.facts_;
    if (l_.whole ? reached < facts.length - 1.0 : span_.end - reached > endsWithin) {
        // Where decoding left pictures out after the last it gave, the data's own last
        // picture is found, so that it shows and is named.
        if (l_.skipped) {
            facts.dataEnd = reached;
            const auto last = p_.lastOfData();
            if (p_.superseded())
                return false;
            if (last && (!l_.lastPicture || last->at > *l_.lastPicture)) {
                Frame frame = *last;
                frame.line = lineOf(std::clamp(last->at, span_.start, span_.end));
                l_.lastPicture = last->at;
                p_.post([&](Mailbox& m) { m.frames.push_back(std::move(frame)); }, false);
            }
        }
        l_.lastPicture = l_.lastPicture.value_or(std::max(0.0, start_));
        return finish(lineOf(stop), Media::endsEarly(p_.path_, *l_.lastPicture));
    }
    if (l_.whole)
        return finish(lineOf(stop), std::nullopt);
    return silence(span_.end);
}

void Playing::Walk::hand(const Media::Picture& picture, double line, double at)
{
    Frame frame = p_.frameOf(picture.frame.get(), line, picture.at);
    l_.lastPicture = at;
    l_.handedLine = line;
    p_.post([&](Mailbox& m) { m.frames.push_back(std::move(frame)); }, false);
}

void Playing::Walk::handLeftOut()
{
    if (leftOut_)
        hand(leftOut_->picture, leftOut_->line, leftOut_->at);
    leftOut_.reset();
}

void Playing::Walk::give(std::vector<int16_t> samples)
{
    Chunk chunk{std::move(samples), lineOf(cursor())};
    const int frames = int(chunk.samples.size() / 2);
    played_ += frames;
    p_.post([&](Mailbox& m) {
        m.soundFrames += frames;
        m.sound.push_back(std::move(chunk));
    }, false);
    soundDone_ = played_ >= due_;
}

// Silence up to recording time `to` (within the span), a tenth of a second at a time as the
// player takes it: a gap in the stamps may last minutes. False once superseded.
bool Playing::Walk::silence(double to)
{
    const int64_t target = sampleAt(to);
    while (played_ < target) {
        {
            std::unique_lock guard(p_.lock);
            p_.changed_.wait(guard, [&] { return p_.superseded() || p_.mail.soundFrames < soundAhead * rate_; });
            if (p_.superseded())
                return false;
        }
        give(std::vector<int16_t>(std::size_t(std::min<int64_t>(target - played_, std::max(1, rate_ / 10))) * 2, 0));
    }
    return true;
}

bool Playing::Walk::finish(double end, std::optional<QString> stopped)
{
    p_.finish(l_, end, std::move(stopped));
    return false;
}

void Playing::play(const Order& order)
{
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
    Line line(order);
    for (int k = 0; k < order.span && k < line.count; ++k)
        line.offset += order.spans[k].length();
    for (int k = order.span; k < line.count; ++k) {
        if (!Walk(*this, line, k).run())
            return;
        line.offset += line.whole ? 0 : order.spans[k].length();
    }
    finish(line, line.offset, std::nullopt);
}

// Tells the player that the line ends at line time `end`, and where `stopped`, that the data
// stops there (its pictures at the last handed over).
void Playing::finish(Line& line, double end, std::optional<QString> stopped)
{
    if (stopped)
        facts_.dataEnd = std::min(facts_.dataEnd.value_or(HUGE_VAL), line.lastPicture.value_or(0.0));
    const auto dataEnd = facts_.dataEnd;
    post([&](Mailbox& m) {
        m.framesDone = true;
        m.soundDone = true;
        m.end = end;
        m.stopped = std::move(stopped);
        m.dataEnd = dataEnd;
    }, true);
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
