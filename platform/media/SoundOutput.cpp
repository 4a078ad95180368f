#include "platform/media/SoundOutput.h"

#include <QAudioDevice>
#include <QAudioFormat>

#include <utility>

SoundOutput::SoundOutput(bool trySound) : trySound(trySound)
{
    // A device that appears is worth a try at the next stretch, and the stretch after a
    // change plays to the output that is the default now.
    QObject::connect(&devices, &QMediaDevices::audioOutputsChanged, &devices, [this] {
        failed = false;
        changed = true;
    });
}

SoundOutput::~SoundOutput()
{
    stop();
    // Qt's sound stream runs the event loop as it goes, and its owner is on its way out:
    // it goes later, from the event loop itself.
    if (sink)
        sink.release()->deleteLater();
}

bool SoundOutput::wanted() const
{
    return !failed && (trySound || !QMediaDevices::audioOutputs().isEmpty());
}

bool SoundOutput::start(int samplesPerSecond)
{
    stop();
    if (!wanted() || samplesPerSecond <= 0)
        return false;
    if (!sink || rate != samplesPerSecond || std::exchange(changed, false)) {
        if (sink)
            sink.release()->deleteLater();
        QAudioFormat format;
        format.setSampleRate(samplesPerSecond);
        format.setChannelCount(2);
        format.setSampleFormat(QAudioFormat::Int16);
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull()) {
            failed = true; // none to try
            return false;
        }
        sink = std::make_unique<QAudioSink>(device, format);
        rate = samplesPerSecond;
    }
    sink->setVolume(level);
    io = sink->start();
    written = 0;
    if (!io || sink->error() != QAudio::NoError) {
        // No sound can be played on this system's outputs as they are: the picture plays
        // without it.
        io = nullptr;
        failed = true;
        return false;
    }
    return true;
}

void SoundOutput::stop()
{
    if (!io)
        return;
    io = nullptr;
    sink->stop();
}

void SoundOutput::suspend()
{
    if (io)
        sink->suspend();
}

void SoundOutput::resume()
{
    if (io)
        sink->resume();
}

bool SoundOutput::broken()
{
    if (!io || sink->state() != QAudio::StoppedState)
        return false;
    io = nullptr;
    failed = true;
    return true;
}

double SoundOutput::played() const
{
    return io ? double(sink->processedUSecs()) / 1e6 : 0.0;
}

double SoundOutput::ahead() const
{
    return io ? std::max(0.0, double(written) / rate - played()) : 0.0;
}

int SoundOutput::write(const int16_t* samples, int frames)
{
    if (!io || frames <= 0)
        return 0;
    const qint64 bytes = io->write(reinterpret_cast<const char*>(samples), qint64(frames) * 4);
    const int taken = int(std::max<qint64>(0, bytes) / 4);
    written += taken;
    return taken;
}

void SoundOutput::setVolume(float volume)
{
    level = volume;
    if (sink)
        sink->setVolume(volume);
}
