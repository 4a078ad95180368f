#pragma once

// A recording decoded in order from any picture on: its pictures as the player and the
// export show them, and its sound. The player's worker and the stills read through it, so
// that one time shows one picture everywhere. Only code in platform/media includes this.

#include "platform/media/Av.h"

#include <QString>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <variant>
#include <vector>

struct SwrContext;

namespace Media {

// A picture, shown from recording time `at`.
struct Picture {
    av::Frame frame;
    double at = 0;
};

// Sound from recording time `at`: interleaved stereo 16-bit samples.
struct Sound {
    std::vector<int16_t> samples;
    double at = 0;
    int frames() const { return int(samples.size() / 2); }
};

class Reader {
public:
    enum class Use { still, playing };
    // Opens the recording at `path` for its pictures and, with `sound`, its sound (at the
    // rate it is stored at). `stop`, when it turns true, ends any reading at the next packet.
    // Throws Fail when the file cannot be read.
    Reader(const QString& path, Use use, bool sound = false, std::function<bool()> stop = {});
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    bool hasPictures() const { return video_ >= 0; }
    bool hasSound() const { return sound_ != nullptr; }
    // Samples a second of the sound; 0 without.
    int soundRate() const { return soundRate_; }
    // How long a picture lasts at the video's rate; a thirtieth of a second when unknown.
    double frameLength() const;
    // Degrees clockwise that turn the stored picture upright.
    double rotation() const;

    struct Found {
        // The last picture that starts before the limit (the file's first where none does);
        // none where the file holds no picture it can decode.
        std::optional<Picture> picture;
        // The limit lies past every packet of the file's data: the picture is its last.
        bool pastData = false;
    };
    // Finds the picture shown at `limit`, and leaves the reader right after it: `next` goes
    // on with the pictures after it, and with the sound from recording time `soundFrom` on.
    // Forwards by a little, it decodes on from where it stands; else it seeks, from further
    // back where a container without an index lands past the key frame the picture needs.
    Found seek(double limit, double soundFrom);
    // What follows in the file (pictures in the order shown), or none at the end of its data
    // (or once stopped). Without `pictures`, the sound that follows: the pictures' packets
    // read on the way to it wait undecoded for a later call, as a file may keep its sound
    // seconds after its pictures (a fragmented MP4 a second), and none comes where the sound
    // has ended before the pictures or lies further behind them than the packets kept.
    std::optional<std::variant<Picture, Sound>> next(bool pictures = true);
    // Everything read since the last seek was handed out, up to the end of the data.
    bool atEnd() const { return ended_ && ready_.empty(); }
    // The latest recording time that a packet read since the last seek reaches.
    double reached() const { return reached_; }

    // How much of the pictures `next` leaves out to catch up with a clock that runs ahead of
    // the decoding: none; the pictures no other refers to; or every packet of the pictures up
    // to the next key frame (then none). The sound is never left out. Each seek sets it back
    // to none.
    enum class Skip { none, unreferenced, toKey };
    void skip(Skip how);
    Skip skipping() const { return skip_; }

private:
    void open();
    Found find(double limit, double soundFrom);
    void restart(std::optional<double> from);
    bool pull(bool pictures);
    bool holdsEnough() const;
    void decodePicture(AVPacket* packet);
    void receivePictures();
    void receiveSound();
    bool resampleFor(const AVFrame* frame);
    void keep(Picture picture);
    bool stopped() const { return stop_ && stop_(); }
    double pictureTime(int64_t stamp) const;

    QString path_;
    int soundRate_ = 0;
    std::function<bool()> stop_;
    av::Input input_;
    int video_ = -1;
    int audio_ = -1;
    av::Decoder pictures_;
    av::Decoder sound_;
    SwrContext* resampler_ = nullptr;
    struct {
        AVChannelLayout layout{};
        int format = -1;
        int rate = 0;
    } resampled_; // what the resampler takes
    av::Packet packet_;
    av::Frame frame_;

    // Since the last seek.
    std::optional<double> key_; // where the key frame that decoding started from is shown
    bool decodingStampsOnly_ = false;
    std::deque<double> slots_;  // the stamps of the packets sent (decoding stamps only)
    double soundFrom_ = 0;      // sound before this is left out
    bool readAll_ = false;      // the data's end was read (and the sound's decoder drained)
    bool ended_ = false;        // and every picture decoded, the decoder drained
    // Pictures' packets read while only sound was asked for, not yet decoded: where each is
    // shown (as stored), and their bytes.
    struct Held {
        av::Packet packet;
        double at = 0;
    };
    std::deque<Held> held_;
    std::size_t heldBytes_ = 0;
    std::deque<std::variant<Picture, Sound>> ready_; // decoded, not yet handed out
    std::optional<Picture> last_;                    // the last picture handed out
    double soundOut_ = -HUGE_VAL;                    // where the sound handed out ends
    double reached_ = -HUGE_VAL;
    Skip skip_ = Skip::none;
    bool skipped_ = false; // pictures were left out to catch up (decoding on may miss one)
    // While a seek walks to a picture: pictures shown this long before it that no other
    // refers to are not decoded.
    std::optional<double> walkingTo_;
    bool walkLeavesOut_ = true;
    double leftOutLatest_ = -HUGE_VAL; // the latest picture before it that may have been left out
};

} // namespace Media
