#include "platform/media/Player.h"

#include "core/project/Fail.h"
#include "platform/media/KeyFrames.h"
#include "platform/media/Media.h"
#include "platform/media/PlayableCopy.h"
#include "platform/media/PlayerTesting.h"
#include "platform/media/RecordingTime.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QTimer>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace {

// What the player needs to know of a recording that the back end does not tell.
struct Facts {
    double firstPicture = 0;        // recording time of its first picture
    double pictureEnd = 0;          // of its last, as the file states it; 0: not known
    double length = 0;              // of the file as read (from its data where it states none)
    std::optional<double> dataEnd;  // where its data stops short of its stated length
};

class QtPlayer final : public Player {
public:
    explicit QtPlayer(bool trySound) : trySound(trySound)
    {
        // The back end draws into `feed`; the views take the frames that `sink` passes on.
        media.setVideoOutput(&feed);
        connect(&feed, &QVideoSink::videoFrameChanged, this, &QtPlayer::arrived);
        connect(&media, &QMediaPlayer::errorOccurred, this, &QtPlayer::met);
        // A device that appears is worth a try at the next item.
        connect(&devices, &QMediaDevices::audioOutputsChanged, this, [this] { soundFailed = false; });
        timer.setInterval(1000 / 30);
        connect(&timer, &QTimer::timeout, this, [this] { Q_EMIT ticked(time()); });
        // Watches for the end of the playing span, waking when it is due rather than polling.
        watch.setSingleShot(true);
        watch.setTimerType(Qt::PreciseTimer);
        connect(&watch, &QTimer::timeout, this, [this] { checkEnd(); });
        // A seek or Play after an error that brings no picture: the media is dead.
        rescue.setSingleShot(true);
        connect(&rescue, &QTimer::timeout, this, [this] {
            if (errored)
                reload();
        });
        patience.setSingleShot(true);
        connect(&patience, &QTimer::timeout, this, [this] { learnt(); });
        // A seek whose picture does not come: sent again, twice at most. Under load the
        // back end now and then takes a seek made as the one before it settles without
        // ever showing its picture (seen right after an item's stamps were learnt, and after
        // an item was loaded again), and the viewer would stay black. Sent again only once
        // it cannot still be decoding (a seek sent again starts its decode over), and never
        // taken for a file that ends early: only its packets tell that.
        resend.setSingleShot(true);
        connect(&resend, &QTimer::timeout, this, [this] {
            if (!seeking || !usable() || media.playbackState() == QMediaPlayer::PlayingState || ++resent > 2)
                return;
            // The back end may already stand at the place sought, and then takes a seek there
            // for nothing: a millisecond apart, which shows the same picture.
            sought = media.position() == sought && sought > 0 ? sought - 1 : sought;
            media.setPosition(sought);
            resend.start(patienceMs());
        });
        // A seek still on its way after a second says so over the picture (a drag over a
        // recording whose key frames lie seconds apart lands each of its seeks sooner).
        slow.setSingleShot(true);
        slow.setInterval(1000);
        connect(&slow, &QTimer::timeout, this, [this] {
            if (seeking && usable())
                setWaiting(QStringLiteral("Finding the picture…"));
        });
        // How far the copy of an MPEG-TS recording has got, while it is made.
        copying.setInterval(250);
        connect(&copying, &QTimer::timeout, this, [this] { showCopying(); });
        connect(&media, &QMediaPlayer::playbackStateChanged, this, [this](QMediaPlayer::PlaybackState s) {
            if (s == QMediaPlayer::PlayingState) {
                timer.start();
                arm();
            } else {
                timer.stop();
                watch.stop();
            }
            if (!reloading) // the item going out for a moment is no news of where it stands
                Q_EMIT ticked(time());
        });
        connect(&media, &QMediaPlayer::mediaStatusChanged, this, &QtPlayer::statusChanged);
    }

    ~QtPlayer() override
    {
        // Nothing the media reports while it goes reaches the owner, which is going too.
        disconnect(&media, nullptr, this, nullptr);
        // Letting go of `feed` stops the back end, which sends it an empty frame.
        disconnect(&feed, nullptr, this, nullptr);
        media.setVideoOutput(nullptr);
        dropCopy();
    }

    void setSource(const std::optional<QString>& path) override
    {
        line.spans.clear();
        index = 0;
        ended = false;
        if (path && path == current && stage != Stage::Failed) {
            media.pause(); // the same recording stays loaded
            return;
        }
        load(path);
    }
    std::optional<QString> source() const override { return current; }
    void setShort(const QString& path, std::vector<Span> spans) override
    {
        if (path == current && stage != Stage::Failed)
            media.pause();
        else
            load(path);
        line.spans = std::move(spans);
        index = 0;
        ended = false;
        if (!line.spans.empty())
            go(line.spans.front().start);
    }
    const std::vector<Span>& spans() const override { return line.spans; }
    void play() override
    {
        ended = false;
        if (stage == Stage::None || stage == Stage::Failed) {
            if (problem_)
                Q_EMIT failed(*problem_);
            return;
        }
        if (facts.dataEnd && sourceTime() >= *facts.dataEnd - 0.05) {
            Q_EMIT failed(endsEarly());
            return;
        }
        if (errored) {
            playAfterRescue = true;
            rescue.start(rescueMs);
        }
        if (!usable()) { // plays once loaded, from the place asked
            resume = true;
            return;
        }
        start();
    }
    void pause() override
    {
        resume = false;
        playAfterRescue = false;
        if (media.playbackState() == QMediaPlayer::PlayingState)
            staleSound = true;
        media.pause();
    }
    void seek(double seconds) override
    {
        double at = seconds;
        bool lastBefore = false;
        if (!line.spans.empty()) {
            const auto place = line.at(seconds);
            index = place->span;
            at = place->time;
            // At a span's end (the Short's end, or past it) its last frame is shown, not
            // the recording's frame that follows the cut.
            lastBefore = place->time >= line.spans[index].end;
        }
        if (showing(at, lastBefore)) {
            // The picture is the one asked for already: no new one will come to tell so.
            stand(at, lastBefore);
        } else {
            go(at, lastBefore);
        }
        arm();
        Q_EMIT ticked(time());
    }
    double time() const override
    {
        if (ended)
            return line.total();
        const double at = sourceTime();
        return line.spans.empty() ? at : line.within(index, at);
    }
    double rate() const override
    {
        if (stage == Stage::None || stage == Stage::Failed || stage == Stage::Copying)
            return 0.0;
        if (resume) // loading (again) to play on
            return media.playbackRate();
        // Media that cannot be played is not playing, whatever state was asked for (one that
        // has loaded plays on after an error of a quick seek: see `met`).
        if (media.mediaStatus() == QMediaPlayer::InvalidMedia && stage == Stage::Loading)
            return 0.0;
        return media.playbackState() == QMediaPlayer::PlayingState ? media.playbackRate() : 0.0;
    }
    void setVolume(float volume) override { audio.setVolume(volume); }
    float volume() const override { return audio.volume(); }
    void setReportInterval(double seconds) override { timer.setInterval(std::max(1, int(seconds * 1000.0 + 0.5))); }
    double reportInterval() const override { return timer.interval() / 1000.0; }
    QVideoSink* videoSink() const override { return const_cast<QVideoSink*>(&sink); }
    bool tellsLanding() const override { return true; }
    std::optional<QString> problem() const override { return problem_; }
    std::optional<QString> waiting() const override { return waiting_; }

    // For tests: an error as the back end reports one, with the media gone or playing on.
    void breakDown(bool dead)
    {
        if (dead)
            media.setSource(QUrl::fromLocalFile(QStringLiteral("/nonexistent/vantorel-gone.mp4")));
        else
            met(QMediaPlayer::ResourceError);
    }

private:
    // Where the item stands. Each is left only in the places named.
    enum class Stage {
        None,     // no item (`load`)
        Copying,  // its MPEG-TS copy is being made; nothing is loaded yet (`load` → `makeCopy`)
        Loading,  // the back end loads it, and its facts are read (`load`, `makeCopy` → `learn`)
        Learning, // hidden seeks learn its stamps (`learn` → `learnt`)
        Ready,    // takes seeks and Play (`learnt`; `load` again after an error)
        Failed,   // cannot be played, as `problem_` says (`fail`; left by `load`, also of the same again)
    };
    // The hidden seeks of `Learning`.
    enum class Look { FirstPicture, ZeroStamp, Done };

    // How long a seek or Play after an error may take to bring a picture before the media
    // counts as dead. A healthy seek far from a key frame can take most of a second.
    static constexpr int rescueMs = 1200;
    // How long the last seek's picture may take before the seek is sent again. The back end
    // decodes from the key frame before the place sought, and a computer that plays the
    // recording decodes it at least as fast as it plays: the stretch from that key frame,
    // half as long again for a busy machine, and a while to start. Where the key frames are
    // not known, one may lie anywhere before it.
    int patienceMs() const
    {
        double decode = std::max(0.0, asked - Media::keyFrameBefore(keyFrames, asked));
        // Where the key frames listed do not reach the place (none read yet, or the index of
        // a large file read only in part), a seek the back end dropped is not waited on for
        // as long as the whole stretch from the start might take.
        if (keyFrames.empty() || asked > keyFrames.back() + 60)
            decode = std::min(decode, 20.0);
        return 2000 + int(std::min(decode, 24.0 * 3600) * 1500.0);
    }
    static bool loaded(QMediaPlayer::MediaStatus s)
    {
        return s == QMediaPlayer::LoadedMedia || s == QMediaPlayer::BufferingMedia
               || s == QMediaPlayer::BufferedMedia || s == QMediaPlayer::StalledMedia
               || s == QMediaPlayer::EndOfMedia;
    }
    // Takes seeks and Play. Once ready, an item takes them also where an error of a quick
    // seek without sound marked it invalid: it mostly plays on (see `met`).
    bool usable() const { return stage == Stage::Ready; }

    // No seek on its way any more.
    void stopSeeking()
    {
        seeking = false;
        slow.stop();
        if (stage != Stage::Copying)
            setWaiting(std::nullopt);
    }
    void setWaiting(const std::optional<QString>& line)
    {
        if (line == waiting_)
            return;
        waiting_ = line;
        Q_EMIT waitingChanged();
    }
    // The line for a recording whose copy is being made: how far it has got.
    void showCopying()
    {
        if (stage != Stage::Copying || !copy || !current) {
            copying.stop();
            return;
        }
        setWaiting(QStringLiteral("Preparing %1 for playing: %2 %")
                       .arg(QFileInfo(*current).fileName())
                       .arg(int(std::floor(copy->done() * 100.0))));
    }

    void statusChanged(QMediaPlayer::MediaStatus s)
    {
        if (loaded(s)) {
            if (stage == Stage::Loading)
                QTimer::singleShot(0, this, [this, of = item] {
                    if (of == item)
                        learn();
                });
        }
        if (s == QMediaPlayer::EndOfMedia)
            QTimer::singleShot(0, this, [this, of = item] {
                if (of == item)
                    endOfMedia();
            });
        // Not from inside the signal: a seek made while loading finishes is lost.
        if (pending && loaded(s))
            QTimer::singleShot(0, this, [this, of = item] {
                if (of == item)
                    flush();
            });
    }

    void load(const std::optional<QString>& path)
    {
        // A recording that could not be played is tried afresh when it is shown again (it
        // may have been replaced meanwhile); the back end loads again only from another source.
        const bool again = path && path == current && stage == Stage::Failed;
        if (again)
            media.setSource(QUrl());
        if (path != current || again) {
            stamps = {};
            facts = {};
            factsKnown = false;
            keyFrames.clear();
            preroll.reset();
            staleEnd.reset();
            holding = false;
            attempts = 0;
            trial = false; // an error of the item before says nothing of this one's sound
            ++item;
            dropCopy();
            if (path)
                readFacts(*path);
        }
        current = path;
        pending.reset();
        target.reset();
        resume = false;
        playAfterRescue = false;
        seeking = false;
        slow.stop();
        copying.stop();
        setWaiting(std::nullopt);
        shown = false;
        onScreen.reset();
        errored = false;
        problem_.reset();
        patience.stop();
        rescue.stop();
        asked = 0;
        askedBefore = false;
        // Sound only where there is somewhere to play it: without an output the sound
        // branch may never start, and then neither does the picture. While an error is put
        // to the test without sound, none.
        const bool wanted = !soundFailed && !trial && (trySound || !QMediaDevices::audioOutputs().isEmpty());
        if (wanted != sound) {
            sound = wanted;
            media.setAudioOutput(sound ? &audio : nullptr);
        }
        if (!path) {
            stage = Stage::None;
            media.setSource(QUrl());
            return;
        }
        stage = Stage::Loading;
        if (PlayableCopy::wanted(*path) && !copyFailed) {
            // Played from an exact copy; until it is made, seeks and Play wait.
            if (!copy)
                makeCopy(*path);
            if (!copy->made().isFinished()) {
                stage = Stage::Copying;
                media.setSource(QUrl());
                showCopying();
                copying.start();
                return;
            }
            if (copy->made().result()) {
                media.setSource(QUrl::fromLocalFile(copy->path()));
                return;
            }
            copy.reset(); // none could be made: the recording as it is
            copyFailed = true;
        }
        media.setSource(QUrl::fromLocalFile(*path));
    }

    // Reads on a worker thread where the recording's first picture lies in recording time,
    // and where its data ends; the stamps are learnt once both it and the media are loaded.
    void readFacts(const QString& path)
    {
        auto* reading = new QFutureWatcher<Facts>(this);
        connect(reading, &QFutureWatcher<Facts>::finished, this, [this, reading, of = item] {
            reading->deleteLater();
            if (of != item)
                return;
            facts = reading->result();
            factsKnown = true;
            learn();
        });
        auto read = [path] {
            Facts f;
            try {
                const MediaInfo info = Media::probeNow(path);
                f.firstPicture = info.firstPicture;
                f.pictureEnd = info.pictureEnd;
                f.dataEnd = info.dataEnd;
                f.length = info.duration;
            } catch (const Fail&) {
                // The back end tells whether it can play it; counted from its first picture.
            }
            return f;
        };
        reading->setFuture(QtConcurrent::run(read));
        listKeyFrames(path);
    }

    // The key frames only tell how long a seek may take: the picture does not wait for them.
    void listKeyFrames(const QString& path)
    {
        auto* listing = new QFutureWatcher<std::vector<double>>(this);
        connect(listing, &QFutureWatcher<std::vector<double>>::finished, this, [this, listing, of = item] {
            listing->deleteLater();
            // The copy's list and the recording's, whichever is fuller.
            if (of == item && listing->result().size() >= keyFrames.size())
                keyFrames = listing->result();
        });
        listing->setFuture(QtConcurrent::run([path] {
            try {
                return Media::keyFramesNow(path);
            } catch (const Fail&) {
                return std::vector<double>();
            }
        }));
    }

    // Asks for the exact copy of the MPEG-TS recording at `path`, and plays it once made
    // (the recording itself where it cannot be made, with seeks that may land early).
    void makeCopy(const QString& path)
    {
        copy = PlayableCopy::of(path);
        auto* making = new QFutureWatcher<bool>(this);
        const std::weak_ptr<PlayableCopy> asked = copy;
        connect(making, &QFutureWatcher<bool>::finished, this, [this, making, path, asked] {
            making->deleteLater();
            const auto file = asked.lock();
            if (!file || file != copy || current != path)
                return; // another item since
            if (stage != Stage::Copying)
                return; // `load` took it as it stood
            if (!file->made().result()) {
                copy.reset();
                copyFailed = true;
            }
            stage = Stage::Loading;
            copying.stop();
            setWaiting(std::nullopt);
            media.setSource(QUrl::fromLocalFile(copy ? copy->path() : path));
            // The copy lists its key frames; a large MPEG-TS recording has no index to.
            if (copy)
                listKeyFrames(copy->path());
        });
        making->setFuture(copy->made());
    }

    void dropCopy()
    {
        if (copy && media.source() == QUrl::fromLocalFile(copy->path()))
            media.setSource(QUrl()); // let go of the copy before it goes
        copy.reset();
        copyFailed = false;
    }

    // What the back end reports. An error before the first picture, with sound, may be the
    // sound output's (a sound server without an output device stops the whole pipeline):
    // the item is tried again without sound, and only a picture then puts the blame on the
    // sound output. Without sound, such an error is the recording's: it cannot be played.
    // After pictures were shown the media may play on (quick seeks without sound now and
    // then end in "Internal data stream error" while the picture goes on) or be dead: the
    // next seek or Play finds out, and loads the item again only where no picture follows.
    void met(QMediaPlayer::Error error)
    {
        if (error == QMediaPlayer::NoError || stage == Stage::Failed || !current)
            return;
        if (!shown) {
            QTimer::singleShot(0, this, [this, of = item] { judge(0, of); });
            return;
        }
        errored = true;
    }

    // An error before the first picture. Where the media says it cannot be played, it is
    // the sound output's (tried again without it) or else, once loads without sound fail
    // too, the recording's. An error that the back end still had on its way from before the
    // item was put in again leaves it going on to a picture; where none comes, the item is
    // loaded again (without sound while the sound output is in doubt).
    void judge(int looks, int of)
    {
        if (of != item || stage == Stage::Failed || shown || !current)
            return;
        const auto status = media.mediaStatus();
        const bool loading = status == QMediaPlayer::LoadingMedia || status == QMediaPlayer::NoMedia;
        if (status != QMediaPlayer::InvalidMedia && looks < (loading ? 30 : 15)) {
            QTimer::singleShot(100, this, [this, looks, of] { judge(looks + 1, of); });
            return;
        }
        tryAgain();
    }

    // The item showed no picture: again without sound while sound is in doubt, else again
    // as it is, and after that it cannot be played. The back end's word that the media is
    // invalid is not taken at once: the error of the load before (with sound) may still be
    // on its way when the item is loaded again, and marks the new load invalid too; seen on
    // a busy machine. A recording that cannot be played fails every load.
    void tryAgain()
    {
        if (sound) {
            sound = false;
            trial = true;
        } else if (++attempts > 2) {
            fail();
            return;
        }
        reload();
    }

    // The item cannot be played: it says so, and stands still.
    void fail()
    {
        if (!current || stage == Stage::Failed || shown)
            return;
        trial = false; // the sound output was not at fault
        stage = Stage::Failed;
        problem_ = QFileInfo(*current).fileName()
                   + QStringLiteral(" cannot be played: it is damaged, or its picture or sound is stored in a way "
                                    "this computer cannot play.");
        pending.reset();
        resume = false;
        playAfterRescue = false;
        stopSeeking();
        errored = false;
        patience.stop();
        rescue.stop();
        media.stop();
        holding = false;
        sink.setVideoFrame(QVideoFrame());
        Q_EMIT failed(*problem_);
        Q_EMIT ticked(time());
    }

    // The media stopped or went dead: the same item again (without sound while the sound
    // output is in doubt), at the last place asked, playing if it was. The picture shown
    // stays until the new one comes.
    void reload()
    {
        if (!current)
            return;
        const double at = asked;
        const bool lastBefore = askedBefore;
        const bool playing = resume || playAfterRescue || media.playbackState() == QMediaPlayer::PlayingState;
        holding = true;
        reloading = true;
        media.setAudioOutput(sound ? &audio : nullptr);
        media.setSource(QUrl());
        load(current);
        go(at, lastBefore);
        reloading = false;
        resume = playing;
    }

    // The back end reached the end of what it can play.
    void endOfMedia()
    {
        if (media.mediaStatus() != QMediaPlayer::EndOfMedia || media.playbackState() == QMediaPlayer::PlayingState)
            return;
        // Reached by playing, well before the picture's length as the file states it: its
        // data may stop there (a copy or a download cut off), which its packets tell. An end
        // the back end reached before a seek can also come once that seek has landed (a cut
        // of a Short that reaches the recording's end, then the next cut, on a busy machine).
        const double length = facts.pictureEnd > 0 ? facts.pictureEnd : stamps.fromPosition(media.duration() / 1000.0);
        const double at = stamps.fromPosition(media.position() / 1000.0);
        if (!seeking && length > 0 && at < length - 1.0) {
            judgeEnd(at);
            return;
        }
        // A seek made away from the end that finds nothing there: the place asked lies past
        // the data (a file cut off that has no index to tell where). The picture stays.
        if (seeking && length > 0 && leftAt < length - 1.0 && asked < length - 1.0) {
            stopSeeking();
            resend.stop();
            Q_EMIT landed();
            Q_EMIT failed(Media::noPictureAt(current.value_or(QString()), asked));
            Q_EMIT ticked(time());
            return;
        }
        // A span that reaches the recording's end stops the media there, before its end
        // is seen or before the jump to the next span has landed: play on.
        if (line.spans.empty())
            return;
        playOn();
    }

    // Plays on from where the back end stopped at an end it should not have: in a Short, on
    // through the playing span or to the next.
    void playOn()
    {
        if (line.spans.empty() || sourceTime() < line.spans[index].end - 0.0005) {
            if (go(sourceTime())) // the jump to this span came too late
                start();
        } else {
            next();
        }
        Q_EMIT ticked(time());
    }

    // An end reached at recording time `at`, well before the recording's length: where the
    // file's data goes on, the end was one the back end reached before a later seek, and it
    // plays on; else the data stops there, and the player says so. An end met twice at one
    // place is where the back end cannot get past, data or not.
    void judgeEnd(double at)
    {
        const qint64 stood = media.position();
        const bool again = staleEnd && std::fabs(*staleEnd - at) < 0.5;
        auto* checking = new QFutureWatcher<bool>(this);
        connect(checking, &QFutureWatcher<bool>::finished, this, [this, checking, of = item, stood, at] {
            checking->deleteLater();
            // Whatever was done meanwhile (a seek, Play, Pause, another item) has the last word.
            if (of != item || seeking || media.mediaStatus() != QMediaPlayer::EndOfMedia
                || media.playbackState() != QMediaPlayer::StoppedState || media.position() != stood)
                return;
            if (checking->result()) {
                staleEnd = at;
                playOn();
                return;
            }
            facts.dataEnd = std::min(facts.dataEnd.value_or(at), at);
            ended = false;
            Q_EMIT failed(endsEarly());
            Q_EMIT ticked(time());
        });
        checking->setFuture(QtConcurrent::run([path = current.value_or(QString()), at, again] {
            try {
                return !again && Media::dataAfterNow(path, at + 1.0);
            } catch (const Fail&) {
                return false;
            }
        }));
    }

    // The sentence for a recording whose data stops short of its length.
    QString endsEarly() const { return Media::endsEarly(current.value_or(QString()), facts.dataEnd.value_or(0)); }

    // Each item's time stamps are learnt once it has loaded, with two seeks whose pictures
    // are not shown: to 0, where the first picture's stamp tells where that picture lies,
    // and to 1 s, where the picture's stamp is cut to the place sought and so tells what
    // stamp the back end's 0 has. Containers differ in both (see RecordingTime).
    void learn()
    {
        if (stage != Stage::Loading || !factsKnown || !loaded(media.mediaStatus()))
            return;
        if (stamps.known) { // the same item loaded again: its stamps are as they were
            stage = Stage::Ready;
            if (!pending)
                pending = asked;
            flush();
            return;
        }
        stage = Stage::Learning;
        look = Look::FirstPicture;
        firstStamp.reset();
        zeroStamp.reset();
        patience.start(2000);
        // A player paused while the item loaded has shown its first picture already, and
        // the back end takes no seek to where it stands: that picture is the first look's.
        if (preroll && media.position() == 0) {
            seen(*preroll);
            return;
        }
        if (media.playbackState() == QMediaPlayer::StoppedState)
            media.pause();
        media.setPosition(0);
    }

    // The first look's picture, stamped `stamp`: on to the second look.
    void seen(qint64 stamp)
    {
        if (stamp >= 0)
            firstStamp = stamp;
        look = Look::ZeroStamp;
        probe = std::clamp<qint64>(media.duration() / 2, 0, 1000);
        QTimer::singleShot(0, this, [this, of = item] {
            if (of == item && stage == Stage::Learning && look == Look::ZeroStamp)
                media.setPosition(probe);
        });
    }

    void learnt()
    {
        if (stage != Stage::Learning)
            return;
        stamps = {};
        if (firstStamp && zeroStamp) {
            stamps.known = true;
            stamps.firstStamp = *firstStamp;
            stamps.zeroStamp = *zeroStamp;
            stamps.firstPicture = facts.firstPicture;
        }
        patience.stop();
        stage = Stage::Ready;
        if (!pending)
            pending = asked;
        flush();
    }

    // The seek kept until the media was ready, now.
    void flush()
    {
        if (!pending || !usable())
            return;
        const double at = *pending;
        pending.reset();
        go(at, pendingBefore);
        if (std::exchange(resume, false)) {
            start();
            arm();
        }
    }

    // Plays. GStreamer's sound sink on a PulseAudio server keeps the timing of its stream
    // from before a seek made while paused, and then plays nothing (or plays it seconds
    // late) while the picture moves on: Play after a seek or a pause starts with a fresh
    // sound branch. (Qt then flushes the pipeline as it starts to play, so the sound comes
    // once the picture is decoded again from its key frame: at once where key frames lie a
    // second apart, in about half a second where they lie 8 s apart. A fresh branch made
    // while paused instead plays its sound before Play.)
    void start()
    {
        if (staleSound && sound && media.playbackState() != QMediaPlayer::PlayingState) {
            media.setAudioOutput(nullptr);
            media.setAudioOutput(&audio);
        }
        staleSound = false;
        media.play();
    }

    void arrived(const QVideoFrame& frame)
    {
        // An empty frame is the picture taken away (an error, an item going out); while the
        // item is loaded again, the old picture stays.
        if (!frame.isValid()) {
            if (!holding)
                sink.setVideoFrame(frame);
            return;
        }
        // (Seeks not from inside the sink's signal: the back end may drop them.)
        if (stage == Stage::Learning) {
            if (look == Look::FirstPicture) {
                seen(frame.startTime());
            } else if (look == Look::ZeroStamp) {
                // A picture of the first look still on its way is not the second.
                if (firstStamp && frame.startTime() == *firstStamp)
                    return;
                if (frame.startTime() >= 0)
                    zeroStamp = frame.startTime() - probe * 1000;
                look = Look::Done;
                QTimer::singleShot(0, this, [this] { learnt(); });
            }
            return;
        }
        if (stage == Stage::Loading && frame.startTime() >= 0 && !preroll)
            preroll = frame.startTime();
        holding = false;
        shown = true;
        attempts = 0;
        errored = false;
        playAfterRescue = false;
        rescue.stop();
        if (trial) {
            trial = false;
            soundFailed = true;
            qWarning("No sound output could be opened: the picture plays without sound.");
        }
        const auto where = span(frame);
        const bool late = seeking && settling.elapsed() >= 2000; // then whatever comes
        const bool exact = where && stamps.landsOn(frame.startTime(), sought);
        // In a Short, only frames of the playing span are shown, by their stamps alone:
        // those decoded past its end before the jump (or past the Short's end before it
        // paused), and those still on their way after it, are not, however late they come.
        // (Over a span that lies past where the picture stops, as a picture shorter than the
        // sound may, the last picture is the span's.)
        const bool lastOne = where && facts.pictureEnd > 0 && where->first >= facts.pictureEnd - 0.25
                             && !line.spans.empty() && line.spans[index].start >= facts.pictureEnd - 0.0005;
        if (!line.spans.empty() && where && !line.passes(index, where->first, where->second, exact || lastOne))
            return;
        sink.setVideoFrame(frame);
        onScreen = where;
        if (!seeking)
            return;
        // A frame decoded before the seek may still be on its way to the sink.
        if (where && !exact && std::fabs(where->first - stamps.fromPosition(sought / 1000.0)) > 1.0 && !late)
            return;
        stopSeeking();
        resend.stop();
        Q_EMIT landed();
    }

    // Where a frame lies in recording time; none where its stamps are not known.
    std::optional<std::pair<double, double>> span(const QVideoFrame& frame) const
    {
        const qint64 at = frame.startTime();
        if (at < 0 || !stamps.known)
            return std::nullopt;
        const double from = stamps.fromStamp(at);
        const double to = frame.endTime() > at ? stamps.fromStamp(frame.endTime()) : from + 0.001;
        return std::pair{from, to};
    }

    // Whether a seek to recording time `seconds` would show the picture on screen: the
    // frame that the back end would land on is the one shown, and nothing else is on its way.
    bool showing(double seconds, bool lastBefore) const
    {
        if (!usable() || seeking || pending || holding || !onScreen
            || media.playbackState() == QMediaPlayer::PlayingState)
            return false;
        const qint64 ms = lastBefore ? stamps.seekBefore(seconds) : stamps.seekTo(seconds);
        const double at = stamps.fromPosition(ms / 1000.0);
        return at >= onScreen->first && at < onScreen->second;
    }

    // Takes `seconds` as the place asked for without seeking the back end: the picture
    // stays as it is. `landed` tells the asker at once.
    void stand(double seconds, bool lastBefore)
    {
        asked = seconds;
        askedBefore = lastBefore;
        target = seconds;
        sought = media.position(); // the time reads as asked until the media moves
        ended = false;
        stopSeeking();
        resend.stop();
        Q_EMIT landed();
    }

    // Seeks in the recording (to the frame shown at `seconds`, or with `lastBefore` to the
    // one before it), or keeps the seek until the media is ready. False where there is
    // nothing to go to: the player has stopped, and must not play on.
    bool go(double seconds, bool lastBefore = false)
    {
        asked = seconds;
        askedBefore = lastBefore;
        target = seconds;
        sought = lastBefore ? stamps.seekBefore(seconds) : stamps.seekTo(seconds);
        ended = false;
        settling.restart();
        if (stage == Stage::Failed)
            return false;
        // Nothing to show there (a seek, or a Short going on to its next cut): the picture
        // stays, and the user is told why. A file that states no length (MPEG-TS, fragmented
        // MP4) is as long as its data: a project made from it before it was cut off may ask
        // for times past it.
        const bool pastLength = !facts.dataEnd && facts.length > 0 && seconds > facts.length + 0.5;
        if (pastLength || (facts.dataEnd && seconds > *facts.dataEnd)) {
            resume = false;
            playAfterRescue = false;
            // (A stopped back end, as at the end of what it could play, would show its
            // first picture once paused.)
            if (media.playbackState() == QMediaPlayer::PlayingState)
                media.pause();
            stand(seconds, lastBefore);
            Q_EMIT failed(pastLength ? Media::endsEarly(current.value_or(QString()),
                                                        facts.pictureEnd > 0 ? std::min(facts.pictureEnd, facts.length)
                                                                             : facts.length)
                                     : endsEarly());
            return false;
        }
        // A recording that has loaded takes seeks after an error all the same: mostly it
        // plays on, and where it is dead, `rescue` loads it again once no picture comes
        // (also where it is not usable now, so the seek kept does not wait for ever).
        if (errored)
            rescue.start(rescueMs);
        if (!usable()) {
            pending = seconds;
            pendingBefore = lastBefore;
            return true;
        }
        // A stopped player shows no picture: pausing it shows the frame sought to.
        if (media.playbackState() == QMediaPlayer::StoppedState)
            media.pause();
        // The back end takes no seek to where it stands, and would show no picture for it:
        // a millisecond apart shows the same one.
        if (media.position() == sought && media.playbackState() != QMediaPlayer::PlayingState)
            sought += sought > 0 ? -1 : 1;
        seeking = true;
        staleSound = true;
        leftAt = stamps.fromPosition(media.position() / 1000.0);
        media.setPosition(sought);
        resent = 0;
        resend.start(patienceMs());
        slow.start();
        return true;
    }

    // The recording's time; right after a seek, the asked time until the media moves on
    // from where it was sent (a position read while a seek is under way may still be the
    // old one).
    double sourceTime() const
    {
        if (pending)
            return *pending;
        if (!usable())
            return asked;
        const qint64 position = media.position();
        const double at = stamps.fromPosition(position / 1000.0);
        if (target) {
            if (position == sought || (std::fabs(at - *target) > 0.25 && settling.elapsed() < 500))
                return *target;
            target.reset();
        }
        return at;
    }

    void arm()
    {
        if (line.spans.empty() || media.playbackState() != QMediaPlayer::PlayingState)
            return;
        const double left = line.spans[index].end - sourceTime();
        watch.start(std::clamp(int(left * 1000.0), 1, 200));
    }

    // Wakes near the playing span's end, and moves on once it is there.
    void checkEnd()
    {
        if (line.spans.empty() || media.playbackState() != QMediaPlayer::PlayingState)
            return;
        if (sourceTime() < line.spans[index].end - 0.0005) {
            arm();
            return;
        }
        next();
    }

    // At a span's end: on to the next span, or pause at the last one's end.
    void next()
    {
        if (index + 1 < int(line.spans.size())) {
            ++index;
            if (go(line.spans[index].start)) {
                start();
                arm();
            }
        } else {
            // Frames already on their way would run past the end: put back its last frame.
            go(line.spans[index].end, true);
            ended = true;
            media.pause();
        }
    }

    const bool trySound;
    QMediaDevices devices;
    QMediaPlayer media;
    QAudioOutput audio;
    QVideoSink feed; // what the back end draws
    QVideoSink sink; // what is shown
    QTimer timer;
    QTimer watch;
    QTimer rescue;
    QTimer patience;
    QTimer resend;
    QTimer slow;
    QTimer copying;

    // The item.
    Stage stage = Stage::None;
    std::optional<QString> current;
    std::optional<QString> problem_; // while `Failed`
    std::optional<QString> waiting_;
    int item = 0;                    // counts the items put in: what was deferred for one drops out
    std::shared_ptr<PlayableCopy> copy;
    bool copyFailed = false; // none could be made: the recording itself
    Facts facts;
    bool factsKnown = false;
    std::vector<double> keyFrames; // recording times, once read
    RecordingTime::PlayerClock stamps;
    Look look = Look::FirstPicture;
    std::optional<qint64> preroll;    // the stamp of the picture shown as the item loaded
    std::optional<double> staleEnd;   // where the back end last stopped before the data's end
    std::optional<qint64> firstStamp; // learnt while `Learning`
    std::optional<qint64> zeroStamp;
    qint64 probe = 0; // ms: where the second look went

    // Sound.
    bool sound = false;       // the audio output is attached
    bool staleSound = true;   // its branch needs making afresh before Play
    bool soundFailed = false; // it failed on this system's outputs as they are
    bool trial = false;       // an error came with sound: tried again without it

    // Recovery.
    bool shown = false;    // a picture of the item has been shown
    bool errored = false;  // an error came and no picture since
    int attempts = 0;      // loads again without a picture since the item was put in
    bool holding = false;  // loading the item again: the old picture stays
    bool reloading = false;

    // Seeks and play.
    bool resume = false; // play once the pending seek has landed
    bool playAfterRescue = false;
    std::optional<double> pending;
    bool pendingBefore = false;
    mutable std::optional<double> target;
    qint64 sought = 0;    // the back end's millisecond the last seek asked for
    bool seeking = false; // its picture has not been shown yet
    int resent = 0;       // times it was sent again
    double leftAt = 0;    // where the media stood when it was sent
    QElapsedTimer settling;
    double asked = 0; // where the last seek asked to be, and whether to its frame before
    bool askedBefore = false;
    std::optional<std::pair<double, double>> onScreen; // where the picture shown lies

    // The Short.
    ShortLine line;
    int index = 0;
    bool ended = false; // paused at the Short's end
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

bool PlayerTesting::injectError(Player& player, bool dead)
{
    auto* real = dynamic_cast<QtPlayer*>(&player);
    if (!real)
        return false;
    real->breakDown(dead);
    return true;
}

std::unique_ptr<Player> Player::makeDefault(bool trySound)
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return std::make_unique<QtPlayer>(trySound);
    return std::make_unique<SilentPlayer>();
}

