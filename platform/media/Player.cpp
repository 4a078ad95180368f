#include "platform/media/Player.h"

#include "platform/media/Av.h"
#include "platform/media/PlayerTesting.h"
#include "platform/PartialFile.h"
#include "core/project/Fail.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QElapsedTimer>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QHash>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>
#include <QGuiApplication>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QTimer>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

// The millisecond a seek asks for: just after `seconds`. A frame's time in whole
// milliseconds may lie before it (1/30 s is 33.33 ms), and a stream's own stamps may put a
// frame a hair after its exact time (frame 33 of a 30 fps clip just after 1.100 s): a seek
// that lands before a frame shows the one before. Containers that keep whole milliseconds
// (Matroska, FLV) give the frame before a nominal length reaching a third of a millisecond
// past the next one's stamp, so the seek goes 2 ms in.
qint64 after(double seconds)
{
    return qint64(std::floor(std::max(0.0, seconds) * 1000.0 + 1e-6)) + 2;
}

// The millisecond just before `seconds`: the last frame of a stretch that ends there.
qint64 before(double seconds)
{
    return std::max<qint64>(0, qint64(std::ceil(seconds * 1000.0 - 1e-6)) - 1);
}

// Recordings in MPEG-TS (.ts, .mts, .m2ts). Qt 6.4 seeks its GStreamer back end without
// asking for accuracy, which the other demuxers give all the same; the MPEG-TS one then
// starts a second or two early, at a frame that is no key frame (a grey picture).
bool transportStream(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == u"ts" || suffix == u"mts" || suffix == u"m2ts";
}

struct OutputFree {
    void operator()(AVFormatContext* c) const
    {
        if (c->pb && !(c->oformat->flags & AVFMT_NOFILE))
            avio_closep(&c->pb);
        avformat_free_context(c);
    }
};

// Room the copy always leaves on its disk: a copy is worth less than a save of the project
// or an export that would fail for want of space.
constexpr qint64 spareBytes = qint64(2) << 30;

bool roomFor(const QString& folder, qint64 bytes)
{
    QStorageInfo disk(folder);
    disk.refresh();
    return disk.isValid() && disk.bytesAvailable() - bytes > spareBytes;
}

// Copies the picture and sound of the recording at `path` unchanged into a Matroska file at
// `copy`, whose seeks the back end makes exactly (the recording is only read). The copy's
// time starts at the recording's first stamp. False when it could not be made, or `off`
// was set meanwhile; then no copy is left.
bool remux(const QString& path, const QString& copy, const std::shared_ptr<std::atomic_bool>& off)
{
    using namespace Media::av;
    const QString folder = QFileInfo(copy).absolutePath();
    // A copy is about as large as the recording: made only where it leaves room to spare.
    if (!roomFor(folder, QFileInfo(path).size()))
        return false;
    const auto made = [&] {
        AVIOInterruptCB interrupt{[](void* flag) { return int(static_cast<std::atomic_bool*>(flag)->load()); },
                                  off.get()};
        Input input = openInput(path, &interrupt);
        const QByteArray name = QFile::encodeName(copy);
        AVFormatContext* raw = nullptr;
        if (avformat_alloc_output_context2(&raw, nullptr, "matroska", name.constData()) < 0 || !raw)
            return false;
        std::unique_ptr<AVFormatContext, OutputFree> output(raw);
        std::vector<int> to(input->nb_streams, -1);
        const int audio = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        for (const int i : {firstVideo(input.get()).value_or(-1), audio}) {
            if (i < 0)
                continue;
            AVStream* stream = avformat_new_stream(output.get(), nullptr);
            if (!stream || avcodec_parameters_copy(stream->codecpar, input->streams[i]->codecpar) < 0)
                return false;
            stream->codecpar->codec_tag = 0;
            stream->time_base = input->streams[i]->time_base;
            to[i] = stream->index;
        }
        if (avio_open(&output->pb, name.constData(), AVIO_FLAG_WRITE) < 0
            || avformat_write_header(output.get(), nullptr) < 0)
            return false;
        const int64_t start = input->start_time == AV_NOPTS_VALUE ? 0 : input->start_time;
        Packet packet(av_packet_alloc());
        for (qint64 n = 1; !off->load() && av_read_frame(input.get(), packet.get()) >= 0; ++n) {
            // Something else may fill the disk meanwhile: the copy gives way.
            if (n % 4096 == 0 && !roomFor(folder, 0))
                return false;
            const int index = packet->stream_index;
            if (index < 0 || index >= int(to.size()) || to[index] < 0) {
                av_packet_unref(packet.get());
                continue;
            }
            const AVStream* in = input->streams[index];
            const int64_t shift = av_rescale_q(start, AV_TIME_BASE_Q, in->time_base);
            if (packet->pts != AV_NOPTS_VALUE)
                packet->pts -= shift;
            if (packet->dts != AV_NOPTS_VALUE)
                packet->dts -= shift;
            av_packet_rescale_ts(packet.get(), in->time_base, output->streams[to[index]]->time_base);
            packet->stream_index = to[index];
            packet->pos = -1;
            if (av_interleaved_write_frame(output.get(), packet.get()) < 0)
                return false;
        }
        return !off->load() && av_write_trailer(output.get()) >= 0;
    };
    bool done = false;
    try {
        done = made();
    } catch (const Fail&) {
    }
    if (!done)
        QFile::remove(copy);
    return done;
}

// An exact copy of a recording in MPEG-TS, shared by the players that show it (the main
// player and the stream window's) and removed when the last of them lets go.
// The file is locked while a player of this process holds it, so a program killed while
// it had one leaves a copy that the next copy made (in any process) removes.
struct CopyFile {
    QString path;
    std::optional<PartialFile> held;
    std::shared_ptr<std::atomic_bool> off = std::make_shared<std::atomic_bool>(false);
    QFuture<bool> made;
    CopyFile() = default;
    CopyFile(const CopyFile&) = delete;
    CopyFile& operator=(const CopyFile&) = delete;
    ~CopyFile()
    {
        // Also while it is being made: its maker then writes to nothing and stops. Letting
        // go of `held` removes the file.
        off->store(true);
    }
};

std::shared_ptr<CopyFile> copyOf(const QString& recording)
{
    static QHash<QString, std::weak_ptr<CopyFile>> copies;
    if (auto existing = copies.value(recording).lock())
        return existing;
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/Vantorel/Playable");
    QDir().mkpath(folder);
    PartialFile::sweep(folder, QStringLiteral(".mkv"));
    auto file = std::make_shared<CopyFile>();
    try {
        file->held.emplace(PartialFile::create(folder, QStringLiteral(".mkv")));
        file->path = file->held->path();
        file->made = QtConcurrent::run(remux, recording, file->path, file->off);
    } catch (const Fail&) {
        file->made = QtFuture::makeReadyFuture(false); // played as it is
    }
    copies.insert(recording, file);
    return file;
}

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
        connect(&patience, &QTimer::timeout, this, [this] { calibrated(); });
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
        connect(&media, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus s) {
            if (loaded(s)) {
                everLoaded = true;
                if (!clock.known && step == 0)
                    QTimer::singleShot(0, this, [this] { calibrate(); });
            }
            // A span that reaches the recording's end stops the media there, before its end
            // is seen or before the jump to the next span has landed: play on.
            if (s == QMediaPlayer::EndOfMedia && !line.spans.empty())
                QTimer::singleShot(0, this, [this, of = item] {
                    if (of != item || line.spans.empty() || media.mediaStatus() != QMediaPlayer::EndOfMedia
                        || media.playbackState() == QMediaPlayer::PlayingState)
                        return;
                    if (sourceTime() < line.spans[index].end - 0.0005) {
                        go(sourceTime()); // the jump to this span came too late
                        media.play();
                    } else {
                        next();
                    }
                    Q_EMIT ticked(time());
                });
            // Not from inside the signal: a seek made while loading finishes is lost.
            if (pending && loaded(s))
                QTimer::singleShot(0, this, [this, of = item] {
                    if (of == item)
                        flush();
                });
        });
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
        if (path && path == current && !problem_) {
            media.pause(); // the same recording stays loaded
            return;
        }
        load(path);
    }
    std::optional<QString> source() const override { return current; }
    void setShort(const QString& path, std::vector<Span> spans) override
    {
        if (path == current && !problem_)
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
        if (!current || problem_) {
            if (problem_)
                Q_EMIT failed(*problem_);
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
        media.play();
    }
    void pause() override
    {
        resume = false;
        playAfterRescue = false;
        media.pause();
    }
    void seek(double seconds) override
    {
        if (line.spans.empty()) {
            go(seconds);
        } else {
            const auto place = line.at(seconds);
            index = place->span;
            // At a span's end (the Short's end, or past it) its last frame is shown, not
            // the recording's frame that follows the cut.
            go(place->time, place->time >= line.spans[index].end);
            arm();
        }
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
        if (problem_ || !current)
            return 0.0;
        if (copying()) // plays once its copy is made
            return 0.0;
        if (resume) // loading (again) to play on
            return media.playbackRate();
        // Media that cannot be played is not playing, whatever state was asked for (one that
        // has loaded plays on after an error of a quick seek: see `go`).
        if (media.mediaStatus() == QMediaPlayer::InvalidMedia && !everLoaded)
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

    // For tests: an error as the back end reports one, with the media gone or playing on.
    void breakDown(bool dead)
    {
        if (dead)
            media.setSource(QUrl::fromLocalFile(QStringLiteral("/nonexistent/vantorel-gone.mp4")));
        else
            met(QMediaPlayer::ResourceError);
    }

private:
    // How long a seek or Play after an error may take to bring a picture before the media
    // counts as dead. A healthy seek far from a key frame can take most of a second.
    static constexpr int rescueMs = 1200;

    static bool loaded(QMediaPlayer::MediaStatus s)
    {
        return s == QMediaPlayer::LoadedMedia || s == QMediaPlayer::BufferingMedia
               || s == QMediaPlayer::BufferedMedia || s == QMediaPlayer::StalledMedia
               || s == QMediaPlayer::EndOfMedia;
    }
    // Loaded, and its time stamps known.
    bool ready() const { return loaded(media.mediaStatus()) && clock.known && step == 0; }
    // Takes seeks and Play: ready, or loaded before and marked unplayable by an error of a
    // quick seek without sound, after which it mostly plays on (see `met`).
    bool usable() const
    {
        return ready() || (clock.known && step == 0 && media.mediaStatus() == QMediaPlayer::InvalidMedia && everLoaded);
    }

    void load(const std::optional<QString>& path)
    {
        if (path != current) {
            clock = {};
            holding = false;
            attempts = 0;
            trial = false; // an error of the item before says nothing of this one's sound
            ++item;
            dropCopy();
        }
        current = path;
        pending.reset();
        target.reset();
        resume = false;
        playAfterRescue = false;
        seeking = false;
        everLoaded = false;
        shown = false;
        errored = false;
        problem_.reset();
        step = 0;
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
        if (path && transportStream(*path) && !copy.failed) {
            // Played from an exact copy; until it is made, seeks and Play wait.
            const bool made = copy.file && copy.file->made.isFinished() && copy.file->made.result();
            media.setSource(made ? QUrl::fromLocalFile(copy.file->path) : QUrl());
            if (!copy.file)
                makeCopy(*path);
            return;
        }
        media.setSource(path ? QUrl::fromLocalFile(*path) : QUrl());
    }

    // Asks for the exact copy of the MPEG-TS recording at `path`, and plays it once made
    // (the recording itself where it cannot be made, with seeks that may land early).
    void makeCopy(const QString& path)
    {
        copy.file = copyOf(path);
        auto* making = new QFutureWatcher<bool>(this);
        const std::weak_ptr<CopyFile> asked = copy.file;
        connect(making, &QFutureWatcher<bool>::finished, this, [this, making, path, asked] {
            making->deleteLater();
            const auto file = asked.lock();
            if (!file || file != copy.file || current != path)
                return; // another item since
            if (file->made.result()) {
                media.setSource(QUrl::fromLocalFile(file->path));
            } else {
                copy = {};
                copy.failed = true;
                media.setSource(QUrl::fromLocalFile(path));
            }
        });
        making->setFuture(copy.file->made);
    }

    // The exact copy of the item is still being made: nothing is loaded yet.
    bool copying() const { return copy.file && !copy.file->made.isFinished(); }

    void dropCopy()
    {
        if (copy.file && media.source() == QUrl::fromLocalFile(copy.file->path))
            media.setSource(QUrl()); // let go of the copy before it goes
        copy = {};
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
        if (error == QMediaPlayer::NoError || problem_ || !current)
            return;
        if (!shown) {
            QTimer::singleShot(0, this, [this, of = item] { judge(0, of); });
            return;
        }
        errored = true;
    }

    // An error before the first picture. Where the media says it cannot be played, it is
    // the sound output's (tried again without it) or else the recording's. An error that
    // the back end still had on its way from before the item was put in again leaves it
    // going on to a picture; where none comes, the item is loaded again (without sound
    // while the sound output is in doubt).
    void judge(int looks, int of)
    {
        if (of != item || problem_ || shown || !current)
            return;
        const auto status = media.mediaStatus();
        const bool loading = status == QMediaPlayer::LoadingMedia || status == QMediaPlayer::NoMedia;
        if (status != QMediaPlayer::InvalidMedia && looks < (loading ? 30 : 15)) {
            QTimer::singleShot(100, this, [this, looks, of] { judge(looks + 1, of); });
            return;
        }
        if (sound) {
            sound = false;
            trial = true;
        } else if (status == QMediaPlayer::InvalidMedia || ++attempts > 2) {
            fail();
            return;
        }
        reload();
    }

    // The item cannot be played: it says so, and stands still.
    void fail()
    {
        if (!current || problem_ || shown)
            return;
        trial = false; // the sound output was not at fault
        problem_ = QFileInfo(*current).fileName()
                   + QStringLiteral(" cannot be played: it is damaged, or its picture or sound is stored in a way "
                                    "this computer cannot play.");
        pending.reset();
        resume = false;
        playAfterRescue = false;
        seeking = false;
        errored = false;
        step = 0;
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
        const bool before = askedBefore;
        const bool playing = resume || playAfterRescue || media.playbackState() == QMediaPlayer::PlayingState;
        holding = true;
        reloading = true;
        media.setAudioOutput(sound ? &audio : nullptr);
        media.setSource(QUrl());
        load(current);
        go(at, before);
        reloading = false;
        resume = playing;
    }

    // Each item's time stamps are learnt once it has loaded, with two seeks whose pictures
    // are not shown: to 0, where the first picture's stamp tells where the recording's
    // time 0 lies, and to 1 s, where the picture's stamp is cut to the place sought and so
    // tells what stamp the back end's 0 has. Containers differ in both: .mkv and .flv put
    // the first picture after the first sound, .ts and remuxed files start seconds late.
    void calibrate()
    {
        if (clock.known || step != 0 || !loaded(media.mediaStatus()))
            return;
        step = 1;
        clock.first.reset();
        if (media.playbackState() == QMediaPlayer::StoppedState)
            media.pause();
        media.setPosition(0);
        patience.start(2000);
    }

    void calibrated()
    {
        if (clock.first && clock.base)
            clock.lead = std::max<qint64>(0, *clock.first - *clock.base) / 1e6;
        clock.known = true;
        step = 0;
        patience.stop();
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
            media.play();
            arm();
        }
    }

    // Where a frame lies in recording time; none where its stamps are not known.
    std::optional<std::pair<double, double>> span(const QVideoFrame& frame) const
    {
        const qint64 at = frame.startTime();
        if (at < 0 || !clock.base)
            return std::nullopt;
        const double from = double(at - *clock.base) / 1e6 - clock.lead;
        const double to = frame.endTime() > at ? double(frame.endTime() - *clock.base) / 1e6 - clock.lead : from + 0.001;
        return std::pair{from, to};
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
        if (step == 1) {
            if (frame.startTime() >= 0)
                clock.first = frame.startTime();
            step = 2;
            clock.probe = std::clamp<qint64>(media.duration() / 2, 0, 1000);
            QTimer::singleShot(0, this, [this] {
                if (step == 2)
                    media.setPosition(clock.probe);
            });
            return;
        }
        if (step == 2) {
            if (frame.startTime() >= 0)
                clock.base = frame.startTime() - clock.probe * 1000;
            step = 3;
            QTimer::singleShot(0, this, [this] {
                if (step == 3)
                    calibrated();
            });
            return;
        }
        if (step == 3)
            return;
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
        // The picture the last seek asked for: its stamp is cut to the place sought.
        const bool exact = where && std::llabs(frame.startTime() - *clock.base - sought * 1000) <= 2;
        // In a Short, only frames of the playing span are shown: those decoded past its end
        // before the jump, and those still on their way after it, are not.
        if (!line.spans.empty() && where && !exact && !late) {
            const Span& s = line.spans[index];
            if (!(where->first < s.end - 0.0005 && where->second > s.start + 0.0005))
                return;
        }
        sink.setVideoFrame(frame);
        if (!seeking)
            return;
        // A frame decoded before the seek may still be on its way to the sink.
        if (where && !exact && std::fabs(where->first + clock.lead - sought / 1000.0) > 1.0 && !late)
            return;
        seeking = false;
        Q_EMIT landed();
    }

    // Seeks in the recording (to the frame shown at `seconds`, or with `lastBefore` to the
    // one before it), or keeps the seek until the media is ready.
    void go(double seconds, bool lastBefore = false)
    {
        asked = seconds;
        askedBefore = lastBefore;
        target = seconds;
        sought = lastBefore ? before(seconds + clock.lead) : after(seconds + clock.lead);
        ended = false;
        settling.restart();
        if (problem_)
            return;
        // A recording that has loaded takes seeks after an error all the same: mostly it
        // plays on, and where it is dead, `rescue` loads it again once no picture comes
        // (also where it is not usable now, so the seek kept does not wait for ever).
        if (errored)
            rescue.start(rescueMs);
        if (!usable()) {
            pending = seconds;
            pendingBefore = lastBefore;
            return;
        }
        // A stopped player shows no picture: pausing it shows the frame sought to.
        if (media.playbackState() == QMediaPlayer::StoppedState)
            media.pause();
        seeking = true;
        media.setPosition(sought);
    }

    // The recording's time; right after a seek, the asked time until the media moves on
    // from where it was sent (a position read while a seek is under way may still be the
    // old one).
    double sourceTime() const
    {
        if (pending)
            return *pending;
        if (step != 0)
            return asked;
        const qint64 position = media.position();
        const double at = double(position) / 1000.0 - clock.lead;
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
            go(line.spans[index].start);
            media.play();
            arm();
        } else {
            // Frames already on their way would run past the end: put back its last frame.
            go(line.spans[index].end, true);
            ended = true;
            media.pause();
        }
    }

    // What the back end plays of a recording in MPEG-TS.
    struct Copy {
        std::shared_ptr<CopyFile> file;
        bool failed = false; // none could be made: the recording itself
    };

    // How the back end's time stamps relate to the recording's time.
    struct Stamps {
        bool known = false;
        std::optional<qint64> first; // µs: the stamp of the first picture
        std::optional<qint64> base;  // µs: the stamp at the back end's position 0
        qint64 probe = 0;            // ms: where the second look went
        double lead = 0;             // s: the back end's position of the recording's time 0
    };

    const bool trySound;
    QMediaDevices devices;
    QMediaPlayer media;
    QAudioOutput audio;
    bool sound = false;       // the audio output is attached
    bool soundFailed = false; // it failed on this system's outputs as they are
    bool trial = false;       // an error came with sound: tried again without it
    bool resume = false;      // play once the pending seek has landed
    bool playAfterRescue = false;
    QVideoSink feed; // what the back end draws
    QVideoSink sink; // what is shown
    QTimer timer;
    QTimer watch;
    QTimer rescue;
    QTimer patience;
    std::optional<QString> current;
    std::optional<QString> problem_;
    ShortLine line;
    int index = 0;
    bool ended = false; // paused at the Short's end
    std::optional<double> pending;
    bool pendingBefore = false;
    mutable std::optional<double> target;
    qint64 sought = 0;       // the back end's millisecond the last seek asked for
    bool seeking = false;    // its picture has not been shown yet
    bool everLoaded = false; // the item has loaded since it was put in
    bool shown = false;      // a picture of the item has been shown
    bool errored = false;    // an error came and no picture since
    int attempts = 0;        // loads again without a picture since the item was put in
    int item = 0;            // counts the items put in: what was deferred for one drops out
    bool holding = false;    // loading the item again: the old picture stays
    bool reloading = false;
    int step = 0; // of learning the item's time stamps
    Stamps clock;
    Copy copy;
    double asked = 0; // where the last seek asked to be, and whether to its frame before
    bool askedBefore = false;
    QElapsedTimer settling;
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
