#include "platform/media/Player.h"

#include "platform/media/Media.h"
#include "platform/media/Playing.h"
#include "platform/media/SoundOutput.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTimer>
#include <QVideoFrame>
#include <QVideoSink>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Plays recordings decoded by the FFmpeg libraries on a thread of its own (`Playing`), its
// sound through the system's sound output (`SoundOutput`), whose clock the pictures follow.
// Standing, it shows the picture asked for; playing, it plays a line: the whole recording,
// or a Short's spans back to back, every join decoded ahead so that sound and pictures go on.
class FilePlayer final : public Player {
public:
    FilePlayer()
    {
        // Pictures are put up when due, and sound written as the output takes it.
        frames.setTimerType(Qt::PreciseTimer);
        frames.setInterval(5);
        connect(&frames, &QTimer::timeout, this, [this] { present(); });
        report.setInterval(1000 / 30);
        connect(&report, &QTimer::timeout, this, [this] { Q_EMIT ticked(time()); });
        // A picture still on its way after a second says so over the picture (a seek far from
        // a key frame of a large recording decodes for a while).
        slow.setSingleShot(true);
        slow.setInterval(1000);
        connect(&slow, &QTimer::timeout, this, [this] {
            if (showing != 0 || (run && !run->started))
                setWaiting(QStringLiteral("Finding the picture…"));
        });
        // The sound stream is there from the start, at the rate most recordings have, so that
        // the output has long fitted its latency to it when the user first presses Play: an
        // idle output renders seconds of silence ahead, which a stream made later waits behind.
        readySound(usualRate);
    }

    ~FilePlayer() override
    {
        // The thread stops before anything it might call on goes.
        worker.reset();
    }

    void setSource(const std::optional<QString>& path) override
    {
        stopRun();
        playing = false;
        line.spans.clear();
        ended = false;
        if (!(path && path == current && !problem_)) // the same recording stays loaded
            load(path);
    }
    std::optional<QString> source() const override { return current; }
    void setShort(const QString& path, std::vector<Span> spans) override
    {
        stopRun();
        playing = false;
        if (path != current || problem_)
            load(path);
        line.spans = std::move(spans);
        ended = false;
        position = 0;
        if (!line.spans.empty())
            stand();
    }
    const std::vector<Span>& spans() const override { return line.spans; }

    void play() override
    {
        ended = false;
        if (!current)
            return;
        if (problem_) {
            Q_EMIT failed(*problem_);
            return;
        }
        // Where the data is known to stop, there is nothing to play.
        if (facts && facts->dataEnd && recordingTime(position) >= *facts->dataEnd - 0.05) {
            Q_EMIT failed(Media::endsEarly(*current, *facts->dataEnd));
            return;
        }
        if (playing)
            return;
        playing = true;
        if (run && run->started) {
            // Goes on from where it paused, with the sound the output still holds.
            output.resume();
            run->suspended = false;
            frames.start();
            report.start();
        } else {
            startRun();
        }
        Q_EMIT ticked(time());
    }

    void pause() override
    {
        if (!playing)
            return;
        if (run && run->started) {
            present(); // the picture due now goes up before the clock stands
            if (!run)
                return; // it ended there
            playing = false;
            output.pause();
            position = clock();
            run->suspended = true;
            report.stop();
            // (Pictures still on their way to where it stands go up as they come.)
        } else {
            // Nothing played yet: the picture is the one at the place asked for.
            playing = false;
            stopRun();
            stand();
        }
        Q_EMIT ticked(time());
    }

    void seek(double seconds) override
    {
        ended = false;
        position = line.spans.empty() ? seconds : std::clamp(seconds, 0.0, line.total());
        if (playing) {
            startRun();
        } else {
            stopRun();
            stand();
        }
        Q_EMIT ticked(time());
    }

    double time() const override
    {
        if (ended)
            return line.total();
        if (run && run->started && !run->suspended)
            return clock();
        return position;
    }
    double rate() const override { return playing ? 1.0 : 0.0; }
    void setVolume(float volume) override { output.setVolume(volume); }
    float volume() const override { return output.volume(); }
    void setReportInterval(double seconds) override { report.setInterval(std::max(1, int(seconds * 1000.0 + 0.5))); }
    double reportInterval() const override { return report.interval() / 1000.0; }
    QVideoSink* videoSink() const override { return const_cast<QVideoSink*>(&sink); }
    void setPictureSize(QSize size) override
    {
        if (size == box)
            return;
        box = size;
        if (!worker)
            return;
        worker->setBox(box);
        // A picture standing still is shown again at the new size (one that plays, or stands
        // in a paused run, comes at it with the next pictures).
        if (!problem_ && !run && showing == 0 && shownAt) {
            stand();
            redraw = showing;
        }
    }
    bool tellsLanding() const override { return true; }
    std::optional<QString> problem() const override { return problem_; }
    std::optional<QString> waiting() const override { return waiting_; }

private:
    // A stretch that plays without a break: from a Play, or a seek while playing, until a
    // pause that is not followed by Play from the same place, a seek, or the line's end.
    struct Run {
        int order = 0;
        double from = 0;         // line time it started at
        bool started = false;    // its first picture and sound came, and the clock runs
        bool finished = false;   // all of its sound was handed to the output
        bool suspended = false;  // paused, ready to go on
        double end = HUGE_VAL;   // line time where it ends, once known
        std::size_t written = 0; // frames of the front chunk of sound already handed over
    };

    void load(const std::optional<QString>& path)
    {
        stopRun();
        playing = false;
        worker.reset();
        facts.reset();
        problem_.reset();
        current = path;
        position = 0;
        showing = 0;
        shownAt.reset();
        setWaiting(std::nullopt);
        if (!path)
            return;
        // The thread's news comes in on this one.
        // The sound is decoded also while no output plays it: one may come by the next Play.
        worker = std::make_unique<Playing>(*path, true, [this] {
            QMetaObject::invokeMethod(this, [this] { mailIn(); }, Qt::QueuedConnection);
        });
        worker->setBox(box);
    }

    // The sound stream made ready for sound at `rate` (none: as it is), the recording's as soon
    // as it is known.
    void readySound(int rate)
    {
        if (rate <= 0 || rate == preparedRate)
            return;
        preparedRate = rate;
        output.prepare(rate);
    }

    // The recording time at line time `t`.
    double recordingTime(double t) const
    {
        if (line.spans.empty())
            return std::max(0.0, t);
        return line.at(t)->time;
    }

    // An order for the thread, from where the player stands on its line.
    Playing::Order orderHere(bool play)
    {
        Playing::Order order;
        order.id = ++orders;
        order.play = play;
        order.from = std::max(0.0, position);
        if (!line.spans.empty()) {
            const auto place = line.at(position);
            order.span = place->span;
            order.from = place->time;
            if (play)
                order.spans = line.spans;
        }
        return order;
    }

    // Shows the picture at the place asked for: the frame shown at its time, or at a span's
    // end (the Short's end) the last frame of that span.
    void stand()
    {
        if (!worker || problem_)
            return;
        Playing::Order order = orderHere(false);
        const double end = line.spans.empty() ? HUGE_VAL : line.spans[order.span].end;
        order.limit = order.from >= end ? endingLimit(end) : showingLimit(order.from);
        showing = order.id;
        redraw = 0;
        worker->order(std::move(order));
        slow.start();
    }

    void startRun()
    {
        stopRun();
        if (!worker || problem_)
            return;
        Playing::Order order = orderHere(true);
        run = Run{};
        run->order = order.id;
        if (!line.spans.empty())
            run->end = line.total();
        firstOfRun = true;
        run->from = line.spans.empty() ? order.from : position;
        showing = 0;
        worker->order(std::move(order));
        frames.start();
        report.start();
        slow.start();
    }

    void stopRun()
    {
        if (!run)
            return;
        output.stop();
        run.reset();
        frames.stop();
        report.stop();
        if (showing == 0)
            setWaiting(std::nullopt);
    }

    // The run's clock: the sound heard, else the time passed since it started.
    double clock() const
    {
        if (!run || !run->started)
            return run ? run->from : position;
        return std::min(output.time(), run->end);
    }

    // News from the thread.
    void mailIn()
    {
        if (!worker)
            return;
        std::optional<RecordingFacts> opened;
        std::optional<QString> failure;
        std::optional<Playing::Answer> answer;
        std::optional<double> dataEnd;
        {
            std::lock_guard guard(worker->lock);
            Playing::Mailbox& m = worker->mail;
            opened = std::exchange(m.facts, std::nullopt);
            failure = std::exchange(m.failure, std::nullopt);
            answer = std::exchange(m.answer, std::nullopt);
            dataEnd = m.dataEnd;
        }
        if (failure) {
            fail(*failure);
            return;
        }
        if (opened)
            facts = opened;
        if (facts && dataEnd)
            facts->dataEnd = dataEnd;
        if (facts)
            readySound(facts->soundRate);
        if (answer && answer->order == showing)
            land(*answer);
        if (run)
            present();
    }

    // The picture a seek asked for came, or the place lies past the data: then the data's
    // last picture shows (never the picture of the time shown before), and it says why.
    void land(Playing::Answer& answer)
    {
        // (The picture shown again at a new size answers no seek.)
        const bool asked = answer.order != std::exchange(redraw, 0);
        showing = 0;
        slow.stop();
        setWaiting(std::nullopt);
        if (answer.frame)
            put(answer.frame->picture, answer.frame->at);
        if (!asked)
            return;
        Q_EMIT landed();
        if (answer.refusal)
            Q_EMIT failed(*answer.refusal);
    }

    void put(const QVideoFrame& picture, double at)
    {
        if (!picture.isValid() || (shownAt == at && picture.size() == shownSize))
            return;
        shownAt = at;
        shownSize = picture.size();
        sink.setVideoFrame(picture);
    }

    // The recording cannot be played: it says so, and stands still.
    void fail(const QString& sentence)
    {
        problem_ = sentence;
        stopRun();
        playing = false;
        showing = 0;
        slow.stop();
        setWaiting(std::nullopt);
        shownAt.reset();
        sink.setVideoFrame(QVideoFrame());
        Q_EMIT failed(sentence);
        Q_EMIT ticked(time());
    }

    // While a run plays: starts its clock once its first picture and sound are there, writes
    // sound as the output takes it, puts up the pictures that are due, and ends it at the
    // end of its line. Paused, it puts up the pictures due where it stands as they come.
    void present()
    {
        if (!run || !worker)
            return;
        std::optional<Playing::Frame> due;
        std::optional<double> end;
        std::optional<QString> stopped;
        {
            std::lock_guard guard(worker->lock);
            Playing::Mailbox& m = worker->mail;
            if (m.playing != run->order)
                return; // the thread has not taken up this run yet
            // (The thread tells its facts before it takes up any run; the news may still be
            // on its way to this thread.)
            // (Its sound stream is made ready with the news, out of the thread's lock.)
            if (m.facts)
                facts = std::exchange(m.facts, std::nullopt);
            if (!run->started && !begin(m))
                return;
            if (!run->suspended)
                feed(m);
            const double now = clock();
            // The thread leaves out what comes too late for it.
            m.clock = run->suspended ? std::nullopt : std::optional<double>(now);
            for (; !m.frames.empty() && m.frames.front().line <= now + 0.002; m.frames.pop_front())
                due = std::move(m.frames.front());
            if (run->suspended && (!m.frames.empty() || m.framesDone))
                frames.stop(); // the picture where it stands is up
            if (m.end)
                run->end = *m.end;
            if (!run->suspended && m.end && m.frames.empty() && now >= *m.end - 0.002) {
                end = m.end;
                stopped = m.stopped;
            }
        }
        worker->taken();
        if (due) {
            put(due->picture, due->at);
            if (waiting_)
                setWaiting(std::nullopt);
            if (std::exchange(firstOfRun, false))
                Q_EMIT landed();
        }
        if (end)
            finish(*end, stopped);
    }

    // Starts the run's clock once its first picture (or word that none comes) and a tenth of a
    // second of its sound are there, on a fresh stream on the output that is the default now
    // (else by the time passed). False while they are not.
    bool begin(Playing::Mailbox& m)
    {
        const int rate = facts ? facts->soundRate : 0;
        // (A recording without pictures starts with its sound.)
        if (m.frames.empty() && !m.framesDone && !(facts && facts->shape.isEmpty()))
            return false;
        if (rate > 0 && !(m.soundDone || m.soundFrames >= rate / 10))
            return false;
        run->started = true;
        output.begin(rate, run->from);
        return true;
    }

    // Hands the output the run's sound as it takes it.
    void feed(Playing::Mailbox& m)
    {
        while (!m.sound.empty() && output.room() > 0) {
            Playing::Chunk& chunk = m.sound.front();
            const int frames = int(chunk.samples.size() / 2 - run->written);
            const int taken = output.hand(chunk.samples.data() + run->written * 2, frames);
            run->written += std::size_t(taken);
            m.soundFrames -= taken;
            if (taken < frames)
                break;
            m.sound.pop_front();
            run->written = 0;
        }
        if (m.soundDone && m.sound.empty() && !std::exchange(run->finished, true))
            output.finish();
    }

    // The run reached the end of its line: the Short's end, the recording's, or where the
    // data stops short of what was asked (and then it says so).
    void finish(double end, const std::optional<QString>& stopped)
    {
        position = end;
        stopRun();
        playing = false;
        ended = !line.spans.empty() && !stopped && end >= line.total() - 1e-6;
        if (std::exchange(firstOfRun, false))
            Q_EMIT landed(); // a seek while playing that found nothing to show
        if (stopped)
            Q_EMIT failed(*stopped);
        Q_EMIT ticked(time());
    }

    void setWaiting(const std::optional<QString>& text)
    {
        if (text == waiting_)
            return;
        waiting_ = text;
        Q_EMIT waitingChanged();
    }

    SoundOutput output;
    QVideoSink sink;
    QTimer frames;
    QTimer report;
    QTimer slow;

    std::optional<QString> current;
    ShortLine line;
    std::unique_ptr<Playing> worker;
    std::optional<RecordingFacts> facts;
    std::optional<QString> problem_;
    std::optional<QString> waiting_;

    static constexpr int usualRate = 48000;
    int preparedRate = 0; // the sound rate the output's stream was made ready for
    int orders = 0;      // counts the orders given to the thread
    int showing = 0;     // the order to stand whose picture is on its way; 0: none
    int redraw = 0;      // that order, where it shows the same picture again at a new size
    QSize box;           // where the views show the picture, in device pixels; empty: none said
    double position = 0; // line time where it stands
    bool playing = false;
    bool ended = false;  // stands at the Short's end
    bool firstOfRun = false;
    std::optional<Run> run;
    std::optional<double> shownAt; // recording time of the picture on screen
    QSize shownSize;               // and its size
};

// Keeps the state a player would have, for runs without a screen.
class SilentPlayer final : public Player {
public:
    void setSource(const std::optional<QString>& path) override
    {
        current = path;
        line.spans.clear();
        position = 0;
        playing = false;
    }
    std::optional<QString> source() const override { return current; }
    void setShort(const QString& path, std::vector<Span> spans) override
    {
        setSource(path);
        line.spans = std::move(spans);
    }
    const std::vector<Span>& spans() const override { return line.spans; }
    void play() override { playing = current.has_value(); }
    void pause() override { playing = false; }
    void seek(double seconds) override
    {
        position = line.spans.empty() ? seconds : std::clamp(seconds, 0.0, line.total());
        Q_EMIT ticked(position);
    }
    double time() const override { return position; }
    double rate() const override { return playing ? 1.0 : 0.0; }
    void setVolume(float v) override { level = v; }
    float volume() const override { return level; }
    void setReportInterval(double seconds) override { interval = seconds; }
    double reportInterval() const override { return interval; }

private:
    std::optional<QString> current;
    ShortLine line;
    double position = 0;
    bool playing = false;
    float level = 1;
    double interval = 1.0 / 30.0;
};

} // namespace

std::unique_ptr<Player> Player::makeDefault()
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return std::make_unique<FilePlayer>();
    return std::make_unique<SilentPlayer>();
}

