#pragma once

#include "platform/media/ShortLine.h"

#include <QObject>
#include <QSize>
#include <QString>
#include <memory>
#include <optional>

class QVideoSink;

// A media player as the models use it: one item at a time, exact seeks, volume, and a
// report of its time while it plays (every 1/30 s unless set otherwise) and after each seek.
// The item is either a whole recording or a Short: stretches of a recording played back to
// back, whose time line (time, seek, the reports) is the Short's own. Putting in an item
// leaves the player paused; seeks made before the media is loaded wait for it.
class Player : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Puts the recording at `path` into the player, or takes its item out.
    virtual void setSource(const std::optional<QString>& path) = 0;
    virtual std::optional<QString> source() const = 0;
    // Puts a Short of the recording at `path` into the player: it jumps from the end of each
    // span to the start of the next and pauses at the end of the last, as at an item's end.
    virtual void setShort(const QString& path, std::vector<Span> spans) = 0;
    // The Short's spans; empty while the item is a whole recording or none.
    virtual const std::vector<Span>& spans() const = 0;
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
    // The size, in device pixels, of the area a view shows the picture in: the sink's frames
    // come upright, scaled to fit inside it (never larger than the recording's own). Empty,
    // as before any call: upright at the recording's own size.
    virtual void setPictureSize(QSize size) { Q_UNUSED(size) }
    // Whether `landed` follows each seek once the picture it asked for is shown. A player
    // that cannot tell has landed when `seek` returns or when it next reports its time.
    virtual bool tellsLanding() const { return false; }
    // Why the item cannot be played, as a sentence for the user; none while it plays or
    // while there is no item.
    virtual std::optional<QString> problem() const { return std::nullopt; }
    // What the picture waits for, as a short line for the viewer to show over it: a seek or
    // a Play that decodes for a while. None while nothing keeps it.
    virtual std::optional<QString> waiting() const { return std::nullopt; }

    // A player that decodes the recording itself and plays its sound on the sound server's
    // default output when the program has a GUI, else one that only keeps its state
    // (command-line jobs have no screen and no speakers to play to). The picture plays
    // without sound where no output can play it, and each Play tries the output again.
    static std::unique_ptr<Player> makeDefault();

Q_SIGNALS:
    void ticked(double seconds);
    // The picture of the last seek is shown (players whose `tellsLanding` is true).
    void landed();
    // The item turned out not to be playable (`problem` holds the sentence).
    void failed(const QString& sentence);
    // `waiting` changed.
    void waitingChanged();
};
