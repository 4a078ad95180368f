#pragma once

#include "platform/media/Media.h"
#include "platform/media/Stills.h"

#include <QCoro/QCoroTask>
#include <QImage>
#include <QMap>
#include <QObject>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>

// Film-strip stills of the open recording, one per whole second, made on request and kept
// as JPEG files in the package's cache so that a later opening reads them from disk.
class Frames : public QObject {
    Q_OBJECT
public:
    // Makes the still source for a recording (tests give fakes).
    using Sources = std::function<std::unique_ptr<StillSource>(const MediaInfo& recording)>;

    // Stills come from a StillDecoder over the recording.
    explicit Frames(QObject* parent = nullptr);
    explicit Frames(Sources sources, QObject* parent = nullptr);
    ~Frames() override;

    // At most this many stills are kept; past it the oldest `evicted` go at once.
    static constexpr int cap = 1500;
    static constexpr int evicted = 300;
    // Stills fit inside this box, in pixels.
    static constexpr int side = 240;
    // JPEG quality of the cache files.
    static constexpr int quality = 60;

    const QMap<int, QImage>& images() const { return images_; }
    double aspect() const { return aspect_; }
    const std::optional<QString>& cache() const { return cache_; }

    // Starts over for a new recording: a new source, nothing asked, nothing shown. The old
    // source stops: a still it already made is still written to the cache but not shown;
    // the ones it had not begun are not made.
    void use(const MediaInfo& recording, double aspect, const std::optional<QString>& cache);
    // Returns at once; the still of `second` appears in `images` later if it can be made.
    // A second already asked for (and not evicted) costs nothing; one that could not be
    // made is not tried again until the next `use`.
    void load(int second);
    // Forgets every still and request (the cache files are the caller's); stills on their
    // way are dropped, so a second is shown again only once it is asked again.
    void clear();

    // The cache file of `second` in `folder`.
    static QString file(const QString& folder, int second);

Q_SIGNALS:
    void imagesChanged();
    void aspectChanged();

private:
    QCoro::Task<> fetch(int second, std::optional<QString> file, int generation);
    void store(int second, const QImage& image);

    Sources sources_;
    QMap<int, QImage> images_;
    double aspect_ = 16.0 / 9.0;
    std::unique_ptr<StillSource> source_;
    std::optional<QString> cache_;
    // The recording's last whole second, when its length is known.
    std::optional<int> last_;
    std::deque<int> order_;
    std::set<int> asked_;
    // Bumped by `use` and `clear`: work begun before drops what it brings.
    int generation_ = 0;
};
