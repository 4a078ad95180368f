#pragma once

// The sound a player plays, and the clock it plays by: one stream on the sound server's
// default output for each stretch that plays without a break. What it has played is what
// the user has heard, so the pictures follow it.
//
// The outputs change under a player: a headset is unplugged, Bluetooth drops, the default
// output is switched, the sound server restarts, an output appears. So each stretch makes a
// fresh stream on the output that is the default then (connecting to the server again where
// it went), a stream that failed is never called on again, and no call waits for the server
// longer than a moment. Qt 6.4's sound sink did neither: it aborted when paused after its
// output went, hung for good when started on an output that had gone, and never connected
// again once the server had been away for more than three seconds.

#include <cstdint>
#include <memory>

class SoundOutput {
public:
    SoundOutput();
    ~SoundOutput();
    SoundOutput(const SoundOutput&) = delete;
    SoundOutput& operator=(const SoundOutput&) = delete;

    // Starts a stream of interleaved stereo 16-bit samples at `rate` a second on the default
    // output; false (and no stream) where none can be played now.
    bool start(int rate);
    // Ends the stream, and what it still holds goes unheard.
    void stop();
    bool started() const;
    // Holds the stream where it is, and lets it go on.
    void suspend();
    void resume();
    // Whether the stream stopped playing by itself: its output went, the server went, or
    // it stands still with sound to play. The stream is let go then; `played` keeps its
    // last reading.
    bool broken();

    // Seconds of the stream heard so far: steady, and never back.
    double played() const;
    // Whether the stream `broken` let go stood still rather than failed: its output took
    // nothing (another stream would fare no better there now).
    bool stalled() const;
    // Seconds written that are not yet heard.
    double ahead() const;
    // Seconds written that the output has not yet taken: what keeps it from running dry.
    double lead() const;
    // Plays what the stream holds, however little: nothing more comes.
    void drain();
    // Writes up to `frames` frames; how many were taken.
    int write(const int16_t* samples, int frames);

    void setVolume(float volume);
    float volume() const { return level; }

private:
    struct Link;
    std::unique_ptr<Link> link;
    float level = 1;
};
