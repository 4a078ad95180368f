#include "platform/media/Reader.h"

#include "platform/media/Media.h"
#include "platform/media/RecordingTime.h"

#include <QFileInfo>
#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace Media {

using namespace av;

namespace {

// How far ahead a picture asked for may lie for the reader to decode on to it rather than
// seek: within the same group of pictures, mostly, so decoding on costs less than going
// back to its key frame.
constexpr double decodeOnWithin = 2.0;
// The most sound a seek keeps on its way to the picture asked for (read ahead of the
// pictures), in seconds: a file whose pictures stop early, or whose sound is stored far
// ahead of them, would have it keep all of its sound up to the next picture.
constexpr double walkSoundMost = 5.0;
// How far behind its pictures a file may keep its sound for `next` to read on to it while
// the pictures' packets wait undecoded: seconds of pictures, and bytes of their packets (five
// seconds of 2160p at 100 Mbit/s, whichever comes first). Measured: a fragmented MP4 keeps its sound up to a
// fragment behind (a key frame's interval: 1-2 s from recorders, over 8 s from an encoder's
// defaults), other recorders 1-2 s. Sound further behind is not waited for.
constexpr double heldMost = 12.0;
constexpr std::size_t heldBytesMost = std::size_t(64) << 20;

// Leaves out the sound before recording time `from`, to the sample; false where none is left.
bool trim(Sound& sound, double from, int rate)
{
    if (sound.at >= from)
        return !sound.samples.empty();
    const long drop = std::min<long>(sound.frames(), std::lround((from - sound.at) * rate));
    sound.samples.erase(sound.samples.begin(), sound.samples.begin() + drop * 2);
    sound.at = from;
    return !sound.samples.empty();
}

Picture copyOf(const Picture& picture)
{
    return Picture{Frame(av_frame_clone(picture.frame.get())), picture.at};
}

int interrupted(void* reader)
{
    return (*static_cast<const std::function<bool()>*>(reader))() ? 1 : 0;
}

} // namespace

Reader::Reader(const QString& path, Use use, bool sound, std::function<bool()> stop)
    : path_(path), stop_(std::move(stop)), packet_(av_packet_alloc()), frame_(av_frame_alloc())
{
    open();
    if (const auto video = firstVideo(input_.get())) {
        video_ = *video;
        // Playing decodes picture after picture: several at once keep up with large ones. A
        // still is one picture, soonest decoded alone.
        pictures_ = openDecoder(input_->streams[video_], path_,
                                use == Use::playing ? FF_THREAD_FRAME | FF_THREAD_SLICE : FF_THREAD_SLICE);
    }
    // Playing reads the sound's packets also where it plays none: where the data stops is
    // where any of its streams stops.
    const int audio = use == Use::playing ? av_find_best_stream(input_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0) : -1;
    if (audio >= 0) {
        audio_ = audio;
        const AVCodec* codec = sound ? avcodec_find_decoder(input_->streams[audio]->codecpar->codec_id) : nullptr;
        Decoder decoder(codec ? avcodec_alloc_context3(codec) : nullptr);
        // Sound that cannot be decoded leaves the picture to play without it.
        if (decoder && avcodec_parameters_to_context(decoder.get(), input_->streams[audio]->codecpar) >= 0
            && avcodec_open2(decoder.get(), codec, nullptr) >= 0 && decoder->sample_rate > 0) {
            soundRate_ = decoder->sample_rate;
            sound_ = std::move(decoder);
        }
    }
    for (unsigned i = 0; i < input_->nb_streams; ++i)
        input_->streams[i]->discard = int(i) == video_ || int(i) == audio_ ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
}

Reader::~Reader()
{
    swr_free(&resampler_);
    av_channel_layout_uninit(&resampled_.layout);
}

void Reader::open()
{
    AVIOInterruptCB interrupt{&interrupted, &stop_};
    input_ = openInput(path_, stop_ ? &interrupt : nullptr);
    for (unsigned i = 0; i < input_->nb_streams; ++i)
        input_->streams[i]->discard = int(i) == video_ || int(i) == audio_ ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
}

double Reader::frameLength() const
{
    if (video_ < 0)
        return 1 / 30.0;
    const AVStream* stream = input_->streams[video_];
    const AVRational rate = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    return rate.num > 0 && rate.den > 0 ? 1 / av_q2d(rate) : 1 / 30.0;
}

double Reader::rotation() const
{
    return video_ >= 0 ? clockwiseRotation(input_->streams[video_]) : 0;
}

double Reader::pictureTime(int64_t stamp) const
{
    return RecordingTime::of(stamp, input_.get(), input_->streams[video_]);
}

// Decoding starts again: from the key frame at or before recording time `from`, or from the
// file's start, read as the file is opened (a seek to it may fail or land past it: a first
// picture shown after the sound starts, B-frames in FLV or AVI).
void Reader::restart(std::optional<double> from)
{
    key_.reset();
    decodingStampsOnly_ = false;
    slots_.clear();
    readAll_ = false;
    ended_ = false;
    skipped_ = false;
    held_.clear();
    heldBytes_ = 0;
    ready_.clear();
    last_.reset();
    soundOut_ = -HUGE_VAL;
    reached_ = -HUGE_VAL;
    skip(Skip::none);
    if (pictures_)
        avcodec_flush_buffers(pictures_.get());
    if (sound_)
        avcodec_flush_buffers(sound_.get());
    if (resampler_)
        swr_init(resampler_); // nothing of the sound before carries over
    if (!from) {
        open();
    } else if (video_ >= 0) {
        av_seek_frame(input_.get(), video_, RecordingTime::stamp(*from, input_.get(), input_->streams[video_]),
                      AVSEEK_FLAG_BACKWARD);
    } else {
        avformat_seek_file(input_.get(), -1, INT64_MIN, RecordingTime::fileStamp(*from, input_.get()), INT64_MAX, 0);
    }
}

// Moves on by one packet: without `pictures`, the next read (a picture's is kept undecoded);
// with them, the next picture's kept, else the next read, decoded; at the end of the data,
// what the decoders still hold. False once nothing more comes, or where the pictures' packets
// kept reach their bound.
bool Reader::pull(bool pictures)
{
    if (stopped())
        return false;
    if (pictures && !held_.empty()) {
        const Held next = std::move(held_.front());
        held_.pop_front();
        heldBytes_ -= std::size_t(next.packet->size);
        decodePicture(next.packet.get());
        return true;
    }
    if (readAll_) {
        if (!pictures || ended_)
            return false;
        if (key_) {
            avcodec_send_packet(pictures_.get(), nullptr);
            receivePictures();
        }
        ended_ = true;
        return true;
    }
    if (!pictures && holdsEnough())
        return false;
    if (av_read_frame(input_.get(), packet_.get()) < 0) {
        if (stopped()) {
            // Cut short, not the end: the next seek starts afresh rather than decode on.
            last_.reset();
            key_.reset();
            return false;
        }
        if (sound_) {
            avcodec_send_packet(sound_.get(), nullptr);
            receiveSound();
        }
        readAll_ = true;
        ended_ = held_.empty() && !key_; // (no picture is on its way)
        return true;
    }
    const int index = packet_->stream_index;
    const int64_t stamp = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
    if (stamp != AV_NOPTS_VALUE && (index == video_ || index == audio_)) {
        const AVStream* stream = input_->streams[index];
        double end = RecordingTime::of(stamp + std::max<int64_t>(0, packet_->duration), input_.get(), stream);
        if (index == video_ && packet_->duration <= 0)
            end += frameLength();
        reached_ = std::max(reached_, end);
    }
    if (index == video_ && pictures) {
        decodePicture(packet_.get());
    } else if (index == video_ && packet_->size > 0) {
        Held kept{Packet(av_packet_alloc()), held_.empty() ? 0.0 : held_.back().at};
        if (stamp != AV_NOPTS_VALUE)
            kept.at = pictureTime(stamp);
        heldBytes_ += std::size_t(packet_->size);
        av_packet_move_ref(kept.packet.get(), packet_.get());
        held_.push_back(std::move(kept));
    } else if (index == audio_ && sound_) {
        if (avcodec_send_packet(sound_.get(), packet_.get()) >= 0)
            receiveSound();
    }
    av_packet_unref(packet_.get());
    return true;
}

bool Reader::holdsEnough() const
{
    return !held_.empty() && (heldBytes_ >= heldBytesMost || held_.back().at - held_.front().at >= heldMost);
}

void Reader::decodePicture(AVPacket* packet)
{
    const int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    // Decoding starts at a key frame: what comes before it cannot be shown whole. (An empty
    // packet, a frame left out, is no end of the stream for the decoder.)
    const bool key = packet->flags & AV_PKT_FLAG_KEY;
    skipped_ = skipped_ || skip_ != Skip::none;
    if (key_ && skip_ == Skip::toKey) {
        if (!key)
            return; // left out undecoded: the picture is late
        // On afresh from this key frame: what the decoder still holds is late as well.
        avcodec_flush_buffers(pictures_.get());
        key_.reset();
        slots_.clear();
        skip_ = Skip::none;
    }
    if (packet->size <= 0 || !(key_ || key))
        return;
    const double at = stamp == AV_NOPTS_VALUE ? 0.0 : pictureTime(stamp);
    if (!key_) {
        // A video that stores only decoding stamps (AVI) has its decoded pictures stamped
        // as late as the decoder happens to hold them back, which after a seek is not
        // always the same. Its pictures come out in the order they are shown, and each is
        // shown at the next of its packets' stamps, as they are stored.
        decodingStampsOnly_ = packet->pts == AV_NOPTS_VALUE;
        key_ = at;
    }
    if (decodingStampsOnly_)
        slots_.push_back(at);
    // Pictures that no other refers to are left out where they are late, and on a seek's
    // way to the picture asked for, short of the pictures just before it (one of which is
    // the one shown). A video with decoding stamps only counts on every picture coming.
    const bool walking = walkingTo_ && walkLeavesOut_ && at + 2 * frameLength() < *walkingTo_;
    const bool leaveOut = !decodingStampsOnly_ && stamp != AV_NOPTS_VALUE && (skip_ != Skip::none || walking);
    pictures_->skip_frame = leaveOut ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
    if (leaveOut && walking)
        leftOutLatest_ = std::max(leftOutLatest_, at);
    if (avcodec_send_packet(pictures_.get(), packet) >= 0) // a damaged packet is passed over
        receivePictures();
}

void Reader::receivePictures()
{
    while (avcodec_receive_frame(pictures_.get(), frame_.get()) == 0) {
        const int64_t stamp = frame_->best_effort_timestamp;
        double at = 0;
        if (decodingStampsOnly_ && !slots_.empty()) {
            at = slots_.front();
            slots_.pop_front();
        } else if (stamp != AV_NOPTS_VALUE && !decodingStampsOnly_) {
            at = pictureTime(stamp);
        } else {
            at = (ready_.empty() || !std::holds_alternative<Picture>(ready_.back()) ? key_.value_or(0)
                                                                                    : std::get<Picture>(ready_.back()).at)
                 + frameLength();
        }
        // A picture shown before the key frame (an open group of pictures) lacks the pictures
        // it refers to.
        if (decodingStampsOnly_ || at >= *key_ - sameFrameTime) {
            Frame picture(av_frame_alloc());
            av_frame_move_ref(picture.get(), frame_.get());
            ready_.push_back(Picture{std::move(picture), at});
        }
        av_frame_unref(frame_.get());
    }
}

// Makes the resampler that turns what the decoder gives into stereo 16-bit sound at the
// output's rate, again whenever the stored sound changes its layout, format or rate (as
// broadcasts do between programmes). False where none can be made for it.
bool Reader::resampleFor(const AVFrame* frame)
{
    AVChannelLayout layout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame->ch_layout.nb_channels == 0)
        av_channel_layout_default(&layout, std::max(1, frame->ch_layout.nb_channels));
    else if (av_channel_layout_copy(&layout, &frame->ch_layout) < 0)
        return false;
    if (resampler_ && av_channel_layout_compare(&layout, &resampled_.layout) == 0
        && frame->format == resampled_.format && frame->sample_rate == resampled_.rate) {
        av_channel_layout_uninit(&layout);
        return true;
    }
    swr_free(&resampler_);
    av_channel_layout_uninit(&resampled_.layout);
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    if (frame->sample_rate <= 0
        || swr_alloc_set_opts2(&resampler_, &stereo, AV_SAMPLE_FMT_S16, soundRate_, &layout,
                               AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr)
               < 0
        || swr_init(resampler_) < 0) {
        swr_free(&resampler_);
        av_channel_layout_uninit(&layout);
        return false;
    }
    resampled_ = {layout, frame->format, frame->sample_rate}; // the layout is kept, not copied
    return true;
}

void Reader::receiveSound()
{
    const AVStream* stream = input_->streams[audio_];
    while (avcodec_receive_frame(sound_.get(), frame_.get()) == 0) {
        // Sound that cannot be turned into what the output plays is left out; silence takes
        // its place.
        if (!resampleFor(frame_.get())) {
            av_frame_unref(frame_.get());
            continue;
        }
        Sound sound;
        const int64_t stamp = frame_->best_effort_timestamp;
        sound.at = stamp == AV_NOPTS_VALUE ? soundFrom_ : RecordingTime::of(stamp, input_.get(), stream);
        const int room = swr_get_out_samples(resampler_, frame_->nb_samples);
        sound.samples.resize(std::size_t(std::max(0, room)) * 2);
        auto* out = reinterpret_cast<uint8_t*>(sound.samples.data());
        const int made = swr_convert(resampler_, &out, room, const_cast<const uint8_t**>(frame_->extended_data),
                                     frame_->nb_samples);
        av_frame_unref(frame_.get());
        if (made <= 0)
            continue;
        sound.samples.resize(std::size_t(made) * 2);
        if (trim(sound, soundFrom_, soundRate_)) // sound before the place asked for is left out
            ready_.push_back(std::move(sound));
    }
}

void Reader::skip(Skip how)
{
    skip_ = video_ >= 0 ? how : Skip::none;
}

Reader::Found Reader::seek(double limit, double soundFrom)
{
    Found found = find(limit, soundFrom);
    // A picture that might have been left out lies between the one found and the limit
    // (pictures further apart than two frames' time): the one shown may be it. Found again
    // with every picture decoded.
    if (found.picture && leftOutLatest_ > found.picture->at + sameFrameTime && !stopped()) {
        walkLeavesOut_ = false;
        last_.reset();
        found = find(limit, soundFrom);
        walkLeavesOut_ = true;
    }
    return found;
}

Reader::Found Reader::find(double limit, double soundFrom)
{
    soundFrom_ = soundFrom;
    skip(Skip::none);
    if (video_ < 0) {
        restart(std::max(0.0, soundFrom));
        return {};
    }
    // Walks on from where the reader stands to the first picture from `limit` on, which
    // stays next in line; the sound on the way stays from `soundFrom` on. The last picture
    // before the limit, or none.
    // Sound past `walkSoundMost` is not kept: where a picture was found, the walk stops there
    // and `next` goes on with the sound and pictures from there (the pictures before the
    // limit that follow then are late at once); else it is left out, and silence stands in.
    const auto walk = [&](std::optional<Picture> kept) {
        std::deque<std::variant<Picture, Sound>> sounds;
        int64_t sound = 0; // frames kept
        walkingTo_ = limit;
        leftOutLatest_ = -HUGE_VAL;
        for (;;) {
            if (ready_.empty() && !pull(true))
                break;
            if (ready_.empty())
                continue;
            auto item = std::move(ready_.front());
            ready_.pop_front();
            if (auto* piece = std::get_if<Sound>(&item)) {
                if (sound >= int64_t(walkSoundMost * soundRate_)) {
                    if (kept) {
                        ready_.push_front(std::move(item));
                        break;
                    }
                } else if (trim(*piece, soundFrom, soundRate_)) {
                    sound += piece->frames();
                    sounds.push_back(std::move(item));
                }
                continue;
            }
            Picture& picture = std::get<Picture>(item);
            if (picture.at < limit) {
                kept = std::move(picture);
                continue;
            }
            ready_.push_front(std::move(item));
            break;
        }
        walkingTo_.reset();
        for (auto it = sounds.rbegin(); it != sounds.rend(); ++it)
            ready_.push_front(std::move(*it));
        return kept;
    };
    const auto handOut = [&](Picture picture, bool beyond) {
        last_ = copyOf(picture);
        const bool nothingAfter =
            ended_ && std::none_of(ready_.begin(), ready_.end(), [](const auto& i) { return std::holds_alternative<Picture>(i); });
        const bool past = beyond || (nothingAfter && limit > reached_ + std::max(0.1, 2 * frameLength()));
        return Found{std::move(picture), past};
    };

    // A little ahead of the picture handed out last: decoding on gets there soonest, unless
    // sound from `soundFrom` on was handed out already (read ahead of the pictures), or
    // pictures were left out on the way (the one asked for may be among them).
    if (last_ && key_ && !skipped_ && last_->at < limit && limit - last_->at <= decodeOnWithin
        && soundOut_ <= soundFrom + 0.5 / std::max(1, soundRate_)) {
        if (auto kept = walk(copyOf(*last_)))
            return handOut(std::move(*kept), false);
    }
    // A seek lands on a key frame at or before the limit where the container has an index;
    // in one without (MPEG-TS) it lands anywhere, maybe past the key frame the picture needs,
    // and then again from further back, as far as the file's start.
    bool measured = false; // where the data's pictures stop was looked up
    bool beyond = false;   // the limit lies past them
    for (double back = 0;;) {
        if (stopped())
            return {};
        const bool fromStart = limit - back <= 0;
        restart(fromStart ? std::nullopt : std::optional<double>(limit - back));
        soundFrom_ = soundFrom;
        if (auto kept = walk(std::nullopt))
            return handOut(std::move(*kept), beyond);
        if (fromStart) {
            // Before the file's first picture, that one shows.
            const auto first = std::find_if(ready_.begin(), ready_.end(),
                                            [](const auto& i) { return std::holds_alternative<Picture>(i); });
            if (first == ready_.end())
                return {};
            Picture picture = std::move(std::get<Picture>(*first));
            ready_.erase(first);
            return handOut(std::move(picture), false);
        }
        // Nothing read from there: the seek went past the data of a file cut off. Its last
        // picture shows there, decoded from the key frame before it rather than from ever
        // further back (a second past the data, or hours).
        if (!key_ && !std::exchange(measured, true)) {
            if (const auto stop = av::lastPicture(input_.get(), input_->streams[video_]); stop && *stop < limit) {
                limit = *stop + sameFrameTime;
                beyond = true;
                back = 0;
                continue;
            }
        }
        back = std::max(1.0, 2 * back);
    }
}

std::optional<std::variant<Picture, Sound>> Reader::next(bool pictures)
{
    for (;;) {
        const auto it = pictures ? ready_.begin() : std::find_if(ready_.begin(), ready_.end(), [](const auto& i) {
            return std::holds_alternative<Sound>(i);
        });
        if (it != ready_.end()) {
            auto item = std::move(*it);
            ready_.erase(it);
            if (const auto* picture = std::get_if<Picture>(&item))
                last_ = copyOf(*picture);
            else if (const auto* sound = std::get_if<Sound>(&item))
                soundOut_ = std::max(soundOut_, sound->at + double(sound->frames()) / soundRate_);
            return item;
        }
        if (!pull(pictures))
            return std::nullopt;
    }
}

} // namespace Media
