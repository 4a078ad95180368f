#pragma once

// The sound a player plays, and the clock it plays by: one stream on the system's sound
// output for each stretch that plays without a break. What it has played is what the user
// has heard, so the pictures follow it.

#include <QAudioSink>
#include <QMediaDevices>
#include <cstdint>
#include <memory>

class SoundOutput {
public:
    // `trySound`: try the system's default output even where none is listed.
    explicit SoundOutput(bool trySound);
    ~SoundOutput();
    SoundOutput(const SoundOutput&) = delete;
    SoundOutput& operator=(const SoundOutput&) = delete;

    // Whether a stretch would play with sound: there is an output to try, and it has not
    // failed since the outputs last changed.
    bool wanted() const;
    // Starts a stream of interleaved stereo 16-bit samples at `rate` a second; false (and
    // no stream) where none can be played.
    bool start(int rate);
    // Ends the stream, and what it still holds goes unheard.
    void stop();
    bool started() const { return io != nullptr; }
    void suspend();
    void resume();
    // Whether the stream stopped by itself: the output went, or failed.
    bool broken();

    // Seconds of the stream heard so far.
    double played() const;
    // Seconds written that are not yet heard.
    double ahead() const;
    // Writes up to `frames` frames; how many were taken.
    int write(const int16_t* samples, int frames);

    void setVolume(float volume);
    float volume() const { return level; }

private:
    const bool trySound;
    QMediaDevices devices;
    std::unique_ptr<QAudioSink> sink;
    QIODevice* io = nullptr;
    int rate = 0;
    int64_t written = 0; // frames
    bool failed = false;
    bool changed = false; // the system's outputs changed since the sink was made
    float level = 1;
};
