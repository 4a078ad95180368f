#pragma once

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <optional>
#include <set>
#include <vector>

// Waveform peaks of the whole recording in chunks of 60 seconds (chunk i covers seconds
// 60·i to 60·i + 60), computed on request one ffmpeg at a time, newest request first, and
// kept in the package's cache as `<i>.bin` (the peak bytes, nothing else).
class Waves : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    static constexpr double chunk = 60;

    const QMap<int, QByteArray>& peaks() const { return peaks_; }
    const std::optional<QString>& video() const { return video_; }
    const std::optional<QString>& cache() const { return cache_; }
    bool busy() const { return busy_; }
    // Counts the times every chunk was forgotten, so that a view can tell that chunks it
    // asked for before must be asked for again.
    int generation() const { return generation_; }

    // Points it at a recording and its cache folder (none: nothing open) and forgets
    // every chunk.
    void reset(const std::optional<QString>& video, const std::optional<QString>& cache);
    // Forgets every chunk and request, and says so.
    void clear();
    // Queues every chunk never asked for before, in order, and starts the worker when it
    // is idle. Returns at once; asking again for a queued, running or done chunk costs nothing.
    void load(const std::vector<int>& chunks);

    // The cache file of chunk `index` in `folder`.
    static QString file(const QString& folder, int index);

Q_SIGNALS:
    void peaksChanged();

private:
    static QCoro::Task<> work(QPointer<Waves> self);
    void store(int index, const QByteArray& bytes);

    QMap<int, QByteArray> peaks_;
    std::optional<QString> video_;
    std::optional<QString> cache_;
    std::vector<int> wanted_;
    std::set<int> asked_;
    bool busy_ = false;
    int generation_ = 0;
};
