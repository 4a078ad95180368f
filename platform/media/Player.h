#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <optional>

class QVideoSink;

// A media player as the models use it: one item at a time, exact seeks, volume, and a
// report of its time while it plays (every 1/30 s unless set otherwise) and after each seek.
class Player : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Puts the recording at `path` into the player, or takes its item out.
    virtual void setSource(const std::optional<QString>& path) = 0;
    virtual std::optional<QString> source() const = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void seek(double seconds) = 0;
    virtual double time() const = 0;
    virtual double rate() const = 0;
    virtual void setVolume(float volume) = 0;
    virtual float volume() const = 0;
    // How often `ticked` is sent while playing, in seconds.
    virtual void setReportInterval(double seconds) = 0;
    virtual double reportInterval() const = 0;
    // Where a view draws the picture; none for players without one.
    virtual QVideoSink* videoSink() const { return nullptr; }

    // A player on Qt Multimedia when the program has a GUI, else one that only keeps
    // its state (command-line jobs have no screen and no speakers to play to).
    static std::unique_ptr<Player> makeDefault();

Q_SIGNALS:
    void ticked(double seconds);
};
