#pragma once

// A recording decoded for a player on a thread of its own: one picture at a time while the
// player stands, or a line of it (the whole recording, or a Short's spans laid back to back)
// as pictures and sound stamped with their place on that line while it plays. Each order
// replaces the one before; the thread drops what it was doing for it.

#include "platform/media/ShortLine.h"

#include <QSize>
#include <QString>
#include <QVideoFrame>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace Media {
class Reader;
struct Picture;
namespace av {
struct Scaler;
}
} // namespace Media

// What the thread finds out about its recording once it is open.
struct RecordingFacts {
    double length = 0;             // as the file states it, else as far as its data reaches
    std::optional<double> dataEnd; // where its pictures stop, short of that (a file cut off)
    double frame = 1 / 30.0;       // how long a picture lasts
    int soundRate = 0;             // samples a second of the sound it plays; 0: none
    QSize shape;                   // of its picture upright, as the export turns it; empty: none
    bool operator==(const RecordingFacts&) const = default;
};

class Playing {
public:
    struct Order {
        int id = 0;
        bool play = false;
        // A Short's spans; none: the whole recording, whose line time is recording time.
        std::vector<Span> spans;
        int span = 0;       // the span it starts in
        double from = 0;    // recording time it starts at
        // Standing: the picture shown is the last that starts before this recording time.
        double limit = 0;
    };
    // A picture, shown from line time `line` (recording time `at`).
    struct Frame {
        QVideoFrame picture;
        double line = 0;
        double at = 0;
    };
    // Sound from line time `line` on, at the facts' rate: interleaved stereo 16-bit samples,
    // one chunk after the other with no gap.
    struct Chunk {
        std::vector<int16_t> samples;
        double line = 0;
    };
    // The answer to an order to stand at a place.
    struct Answer {
        int order = 0;
        std::optional<Frame> frame;       // none where the file shows no picture at all
        // The place lies past the data: the sentence that says so (`frame` is then the data's
        // last picture).
        std::optional<QString> refusal;
    };
    // What the thread has handed over and the player has not yet taken. Guarded by `lock`.
    struct Mailbox {
        std::optional<RecordingFacts> facts;
        std::optional<QString> failure; // the recording cannot be played, as a sentence
        std::optional<Answer> answer;
        // Of the order that plays.
        int playing = 0;
        std::deque<Frame> frames;
        std::deque<Chunk> sound;
        int soundFrames = 0;     // in `sound`
        bool framesDone = false; // no more of either will come
        bool soundDone = false;
        std::optional<double> end;      // line time where playing ends
        std::optional<QString> stopped; // said there: the data stops short of what was asked
        std::optional<double> dataEnd;  // where the pictures turned out to stop, when they did
        // Set by the player: the line time it plays at, while its clock runs (else none).
        // Pictures decoded after their time are left out, and decoding that falls behind it
        // leaves pictures out to catch up, so that the sound goes on.
        std::optional<double> clock;
    };

    // Opens the recording at `path` on the thread, with its sound where `sound` (at the rate
    // the facts give). `wake` is called on the thread when the mailbox holds news the player
    // waits for.
    Playing(QString path, bool sound, std::function<void()> wake);
    // Stops the thread at its next packet.
    ~Playing();
    Playing(const Playing&) = delete;
    Playing& operator=(const Playing&) = delete;

    void order(Order order);
    // The player took pictures or sound out of the mailbox: the thread may decode on.
    void taken();
    // The size the pictures are shown at, in device pixels: each is handed over upright,
    // scaled to fit inside it (never enlarged). Empty: at the recording's own size.
    void setBox(QSize box);

    std::mutex lock;
    Mailbox mail;

private:
    struct Line;
    class Walk;
    void run();
    void open();
    void show(const Order& order);
    void play(const Order& order);
    void finish(Line& line, double end, std::optional<QString> stopped);
    bool superseded() const { return stopping_ || latest_ != current_; }
    std::optional<Frame> lastOfData();
    void keepLast(Media::Picture picture);
    void post(const std::function<void(Mailbox&)>& change, bool news);
    Frame frameOf(const struct AVFrame* frame, double line, double at);

    const QString path_;
    const bool sound_;
    const std::function<void()> wake_;
    std::unique_ptr<Media::Reader> reader_;
    RecordingFacts facts_;
    double rotation_ = 0; // degrees clockwise that turn the stored picture upright
    std::unique_ptr<Media::av::Scaler> scaler_;
    std::atomic<int64_t> box_{0}; // width << 32 | height
    // The data's last picture, where the data stops short (see `lastOfData`), and the end of
    // the data it was decoded for.
    std::optional<Frame> lastOfData_;
    std::optional<double> lastOfDataFor_;
    std::size_t frameBytes_ = 0;

    std::condition_variable changed_;
    std::optional<Order> next_;    // guarded by `lock`
    std::atomic<int> latest_{0};   // the newest order given
    std::atomic<bool> stopping_{false};
    int current_ = 0;              // the order being carried out (on the thread)
    std::thread thread_;
};
