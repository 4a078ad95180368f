#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <optional>
#include <set>
#include <vector>

// Waveform peaks of the whole recording in 60-second chunks. Pointing it at a recording
// and emptying it work now; computing chunks on request (`load`) is not built yet.
class Waves : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    const QMap<int, QByteArray>& peaks() const { return peaks_; }
    const std::optional<QString>& video() const { return video_; }
    const std::optional<QString>& cache() const { return cache_; }

    // Points it at a recording and its cache folder (none: nothing open) and forgets
    // every chunk.
    void reset(const std::optional<QString>& video, const std::optional<QString>& cache)
    {
        video_ = video;
        cache_ = cache;
        clear();
    }
    void clear()
    {
        if (!peaks_.isEmpty()) {
            peaks_.clear();
            Q_EMIT peaksChanged();
        }
        wanted_.clear();
        asked_.clear();
    }

Q_SIGNALS:
    void peaksChanged();

private:
    QMap<int, QByteArray> peaks_;
    std::optional<QString> video_;
    std::optional<QString> cache_;
    std::vector<int> wanted_;
    std::set<int> asked_;
};
