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
// One stream serves every run of play of a sound format: made, corked and empty, before the
// player knows what it will play, so that the output has fitted its latency to it before the
// first Play (a stream made at the press waits behind whatever an idle output rendered
// ahead: over a second on a sink nobody records from). Pause corks it; the end of a run
// corks and empties it; a run uncorks it. A corked stream lets an idle output suspend.
//
// The outputs change under a player: a headset is unplugged, Bluetooth drops, the default
// output is switched, the sound server restarts, an output appears. A fresh stream is made
// only where the format changes, the stream failed (its output went, or the server), or it
// was let go: one whose output is suspended plays nowhere. One that waits behind its output
// is kept. One whose output takes nothing for longer than any output holds (a device that
// stalls, a machine too busy to feed it) waits, holding silence, while the clock goes on by
// the time passed, and plays again from the clock once its output takes sound again. A
// stream that failed is never called on again, and no call waits for the server longer than
// a moment. Where no stream can play, the clock goes on by the time passed, as far as the
// sound handed reaches, and the next Play tries the output again.

#include <cstdint>
#include <memory>

class SoundOutput {
public:
    SoundOutput();
    ~SoundOutput();
    SoundOutput(const SoundOutput&) = delete;
    SoundOutput& operator=(const SoundOutput&) = delete;

    // Makes ready, corked and empty, the stream for sound at `rate` a second, on the default
    // output where one can be had, unless it has one. The stream it had stays until the new
    // one is there, so that the output never falls back to an idle latency meanwhile.
    void prepare(int rate);

    // A run of sound begins at line time `from`: interleaved stereo 16-bit samples at `rate`
    // a second, on the stream for that rate where one can be had. `rate` 0: a recording
    // without sound, whose clock goes by the time passed.
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

    // The line time the user hears now: what the output has played, as its server tells, so
    // that over minutes it follows the device, whose clock may run a little fast or slow;
    // steady, never back, never past the sound handed (until `finish`), never ahead of the
    // time passed since the run began but by the device's own pace, standing while paused.
    double time() const;
    // Whether a stream on an output plays the run's sound now.
    bool audible() const;

    void setVolume(float volume);
    float volume() const;

    struct Link;

private:
    std::unique_ptr<Link> link;
};
