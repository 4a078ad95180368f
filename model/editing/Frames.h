#pragma once

#include "platform/Observable.h"
#include "platform/media/Media.h"

#include <QImage>
#include <QMap>
#include <QObject>
#include <optional>
#include <set>
#include <vector>

// Film-strip stills of the open recording, one per second. Pointing it at a recording
// and emptying it work now; making stills on request (`load`) is not built yet.
class Frames : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    const QMap<int, QImage>& images() const { return images_; }
    double aspect() const { return aspect_; }
    const std::optional<QString>& cache() const { return cache_; }

    // Starts over for a new recording.
    void use(const MediaInfo& recording, double aspect, const std::optional<QString>& cache)
    {
        clear();
        if (assign(aspect_, aspect))
            Q_EMIT aspectChanged();
        cache_ = cache;
        recording_ = recording;
    }
    // Forgets every still (the cache files are the caller's).
    void clear()
    {
        if (!images_.isEmpty()) {
            images_.clear();
            Q_EMIT imagesChanged();
        }
        asked_.clear();
        order_.clear();
    }

Q_SIGNALS:
    void imagesChanged();
    void aspectChanged();

private:
    QMap<int, QImage> images_;
    double aspect_ = 16.0 / 9.0;
    std::optional<MediaInfo> recording_;
    std::optional<QString> cache_;
    std::vector<int> order_;
    std::set<int> asked_;
};
