#pragma once

// The sound a player plays, and the clock it plays by. The player hands it sound and asks it
// the time; everything between the two lives here: the stream on the sound server, when to
// write to it, what it has played, and a fresh stream where the old one went.
//
// The sound's pace is the server's: the stream is written whenever the server has room for
// it, from sound kept here, so that a stream that ran dry is filled again the moment sound
// comes, whatever the output's latency or whoever else records from it. The clock is what
// the stream has played, as its timing says, never past what was written: the pictures
// follow what the user hears.
//
// The outputs change under a player: a headset is unplugged, Bluetooth drops, the default
// output is switched, the sound server restarts, an output appears. Each run of play makes a
// fresh stream on the output that is the default then (connecting to the server again where
// it went), as does each Play after a Pause whose stream went meanwhile; a stream that failed
// is never called on again, one whose output takes nothing is let go, and no call waits for
// the server longer than a moment. Where no stream can play, the clock goes on by the time
// passed, as far as the sound handed reaches.

#include <cstdint>
#include <memory>

class SoundOutput {
public:
    SoundOutput();
    ~SoundOutput();
    SoundOutput(const SoundOutput&) = delete;
    SoundOutput& operator=(const SoundOutput&) = delete;

    // A run of sound begins at line time `from`: interleaved stereo 16-bit samples at `rate`
    // a second, on a fresh stream on the default output where one can be had. `rate` 0: a
    // recording without sound, whose clock goes by the time passed.
    void begin(int rate, double from);
    // Ends the run; what it still holds goes unheard.
    void stop();

    // Holds the clock where it is (Pause), and lets it go on (Play), on a fresh stream where
    // the one it had went meanwhile, or where it had none.
    void pause();
    void resume();

    // How many more frames it takes now.
    int room() const;
    // Takes sound that follows what it was handed before, up to `room`; how many frames.
    int hand(const int16_t* samples, int frames);
    // No more sound comes in this run: what it holds plays out, and the clock then goes on by
    // the time passed.
    void finish();

    // The line time the user hears now: steady, never back, never past the sound handed
    // (until `finish`), standing while paused.
    double time() const;
    // Whether a stream on an output plays the run's sound now.
    bool audible() const;

    void setVolume(float volume);
    float volume() const;

    struct Link;

private:
    std::unique_ptr<Link> link;
};
