#include "platform/Pieces.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <set>

namespace Pieces {

namespace {

constexpr qint64 packetSize = 188;
// A stamp counts 90000 a second in 33 bits, and past its largest starts again at 0.
constexpr double wrap = double(int64_t(1) << 33) / 90000;
// Stamps that start again further back than this make a join (the interleaving of sound and
// pictures, and pictures decoded before they are shown, go back by less); unless, once
// unwrapped, they went on by less than `wrapStep`: from near the largest stamp to near 0.
constexpr double joinBack = 1.0;
constexpr double wrapStep = 10.0;
// The places the stamps are first read at; from each, the first few stamps found within
// `window`. A join is narrowed down to `near` before every stamp around it is read. Where the
// pieces found are short, others as short may lie unnoticed between two places: twice as many
// places are read, up to `mostPlaces`, until the shortest piece spans `spanned` of the steps
// between places.
constexpr int places = 64;
constexpr int mostPlaces = 1024;
constexpr qint64 spanned = 4;
constexpr int fewStamps = 7;
constexpr qint64 window = qint64(1) << 20;
constexpr qint64 chunk = qint64(64) << 10; // read at a time
constexpr qint64 near = qint64(1) << 20;
// The last place lies this far before the end: a few stamps of any recording lie within it.
constexpr qint64 tail = qint64(64) << 10;

// Where a piece of sound or a picture starts in the file: the TS packet where its PES starts.
struct Stamp {
    qint64 pos;
    int pid;
    double at; // seconds
    bool picture;
};

// Whether the stamps start again from `from` to `to`, read one after the other.
bool falls(double from, double to)
{
    return from - to > joinBack && to + wrap - from >= wrapStep;
}

// Stamp `at` of a piece whose first stamp is `first`, unwrapped to follow it: from a moment
// before it on.
double unwrapped(double at, double first)
{
    return at + wrap * std::ceil((first - wrapStep - at) / wrap);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

class Reading {
public:
    explicit Reading(const QString& path) : file_(path)
    {
        if (file_.open(QIODevice::ReadOnly))
            size_ = file_.size();
    }
    qint64 size() const { return size_; }

    // The bytes from `from` to `to` (within the file).
    QByteArray bytes(qint64 from, qint64 to)
    {
        from = std::max<qint64>(0, from);
        to = std::min(to, size_);
        if (to <= from || !file_.seek(from))
            return {};
        return file_.read(to - from);
    }

    // The stamps of the PES that start from `from` on and before `to`, in the order stored;
    // the first `most` of them (0: all).
    std::vector<Stamp> stamps(qint64 from, qint64 to, std::size_t most = 0)
    {
        std::vector<Stamp> found;
        // Read a stretch at a time, each from the packet where the one before stopped.
        for (qint64 at = from; at < std::min(to, size_);) {
            const qint64 until = std::min(to, at + chunk);
            const QByteArray data = bytes(at, until + 3 * packetSize);
            const auto* b = reinterpret_cast<const uint8_t*>(data.constData());
            const qint64 n = data.size();
            // On a packet's first byte, as the next two show (where the file goes on).
            const auto synced = [&](qint64 k) {
                return b[k] == 0x47 && (k + packetSize >= n || b[k + packetSize] == 0x47)
                       && (k + 2 * packetSize >= n || b[k + 2 * packetSize] == 0x47);
            };
            qint64 k = 0;
            while (k + packetSize <= n && at + k < until) {
                if (!synced(k)) {
                    ++k;
                    continue;
                }
                if (const auto stamp = pesStamp(b + k)) {
                    found.push_back({at + k, (b[k + 1] & 0x1f) << 8 | b[k + 2], stamp->first, stamp->second});
                    if (found.size() == most)
                        return found;
                }
                k += packetSize;
            }
            if (k == 0)
                break; // (the end of the file)
            at += k;
        }
        return found;
    }

    // The middle of the first few stamps from `pos` on (one gone astray does not count). Each
    // place is read once: the places read again as more are read, and the narrowing of each
    // join after them, ask again.
    std::optional<double> stampAt(qint64 pos)
    {
        const auto [it, fresh] = known_.try_emplace(pos);
        if (fresh) {
            std::vector<double> at;
            for (const Stamp& s : stamps(pos, pos + window, fewStamps))
                at.push_back(s.at);
            if (!at.empty())
                it->second = median(at);
        }
        return it->second;
    }

    // The showing stamp of the picture or sound whose PES starts in this TS packet, and whether
    // it is a picture.
    static std::optional<std::pair<double, bool>> pesStamp(const uint8_t* p)
    {
        const bool starts = p[1] & 0x40;
        const int fields = (p[3] >> 4) & 3;
        const int payload = 4 + ((fields & 2) ? 1 + p[4] : 0);
        if (!starts || !(fields & 1) || payload + 14 > packetSize)
            return std::nullopt;
        const uint8_t* pes = p + payload;
        const int stream = pes[3];
        const bool media = (stream & 0xe0) == 0xc0 || (stream & 0xf0) == 0xe0 || stream == 0xbd;
        if (pes[0] != 0 || pes[1] != 0 || pes[2] != 1 || !media || !(pes[7] & 0x80))
            return std::nullopt;
        const uint8_t* s = pes + 9;
        const int64_t stamp = int64_t((s[0] >> 1) & 7) << 30 | int64_t(s[1]) << 22 | int64_t(s[2] >> 1) << 15
                              | int64_t(s[3]) << 7 | int64_t(s[4] >> 1);
        return std::pair{double(stamp) / 90000, (stream & 0xf0) == 0xe0};
    }

private:
    QFile file_;
    qint64 size_ = 0;
    std::map<qint64, std::optional<double>> known_;
};

// Where the stamps start again within bytes (lo, hi], whose stamps fall from `atLo` to
// `atHi` (or wrap, which is no join): the first byte of each piece that follows (its first
// packets, which tell what it holds, before its first PES), after those in `joins`.
void joinsWithin(Reading& file, qint64 lo, double atLo, qint64 hi, double atHi, std::vector<qint64>& joins)
{
    // Before one join the stamps lie above the middle of the fall, after it below. A part
    // passed over whose own stamps fall holds another.
    const qint64 from = lo, to = hi;
    const double atFrom = atLo, atTo = atHi;
    while (hi - lo > near) {
        const qint64 mid = lo + (hi - lo) / 2;
        const auto at = file.stampAt(mid);
        if (!at)
            return;
        if (*at >= (atLo + atHi) / 2) {
            lo = mid;
            atLo = *at;
        } else {
            hi = mid;
            atHi = *at;
        }
    }
    if (lo > from && atFrom - atLo > joinBack)
        joinsWithin(file, from, atFrom, lo, atLo, joins);
    // Each stamp from which the stamps lie well back of those just before it (and of those
    // after it, a few past `hi` too).
    std::vector<Stamp> stamps = file.stamps(lo, hi);
    for (const Stamp& s : file.stamps(hi, hi + window, fewStamps))
        stamps.push_back(s);
    const auto middle = [&](std::size_t from, std::size_t to) {
        std::vector<double> at;
        for (std::size_t k = from; k < to; ++k)
            at.push_back(stamps[k].at);
        return median(at);
    };
    for (std::size_t j = 1; j < stamps.size(); ++j) {
        if (!falls(stamps[j - 1].at, stamps[j].at))
            continue;
        const std::size_t before = j >= std::size_t(fewStamps) ? j - fewStamps : 0;
        if (!falls(middle(before, j), middle(j, std::min(stamps.size(), j + fewStamps))))
            continue;
        // Back from the first PES of the next piece over the packets that carry no PES (its
        // tables), to the last packet of one.
        std::set<int> carrying;
        for (std::size_t k = 0; k < j; ++k)
            carrying.insert(stamps[k].pid);
        const qint64 first = stamps[j].pos;
        const QByteArray back = file.bytes(first - window, first);
        const auto* b = reinterpret_cast<const uint8_t*>(back.constData());
        qint64 k = back.size() - packetSize;
        for (; k >= 0; k -= packetSize)
            if (b[k] != 0x47 || carrying.count((b[k + 1] & 0x1f) << 8 | b[k + 2]))
                break;
        if (const qint64 join = first - back.size() + k + packetSize;
            join > 0 && join < file.size() && (joins.empty() || join > joins.back()))
            joins.push_back(join);
    }
    if (hi < to && atHi - atTo > joinBack)
        joinsWithin(file, hi, atHi, to, atTo, joins);
}

// How long the piece in bytes [from, to) lasts: from its first stamp to where its last
// picture ends (a picture lasts as long as the step between its stream's pictures; a PES of
// sound may hold many pieces of sound, so that its end is not told), or without pictures its
// last sound starts.
std::optional<double> lengthOf(Reading& file, qint64 from, qint64 to)
{
    // (Its stamps are unwrapped from its first few on, which one stray stamp does not move:
    // they may wrap within it.)
    const std::vector<Stamp> starting = file.stamps(from, std::min(to, from + 4 * window), 64);
    if (starting.empty())
        return std::nullopt;
    std::vector<double> startingAt;
    for (const Stamp& s : starting)
        startingAt.push_back(s.at);
    const double reference = median(startingAt);
    std::map<int, double> first;
    for (const Stamp& s : starting)
        first.emplace(s.pid, unwrapped(s.at, reference));
    std::map<int, std::vector<double>> last;
    const std::vector<Stamp> ending = file.stamps(std::max(from, to - 2 * window), to);
    const bool pictures = std::any_of(ending.begin(), ending.end(), [](const Stamp& s) { return s.picture; });
    for (const Stamp& s : ending)
        if (s.picture || !pictures)
            last[s.pid].push_back(unwrapped(s.at, reference));
    if (first.empty() || last.empty())
        return std::nullopt;
    double start = HUGE_VAL, end = -HUGE_VAL;
    for (const auto& [pid, at] : first)
        start = std::min(start, at);
    for (auto& [pid, at] : last) {
        std::sort(at.begin(), at.end());
        std::vector<double> steps;
        for (std::size_t k = 1; k < at.size(); ++k)
            if (at[k] > at[k - 1])
                steps.push_back(at[k] - at[k - 1]);
        end = std::max(end, at.back() + (steps.empty() || !pictures ? 0.0 : median(steps)));
    }
    if (!(end > start))
        return std::nullopt;
    return end - start;
}

std::vector<Piece> find(const QString& path)
{
    Reading file(path);
    const qint64 size = file.size();
    const QByteArray head = file.bytes(0, 4 * packetSize);
    if (head.size() < 4 * packetSize || head[0] != 0x47 || head[packetSize] != 0x47 || head[2 * packetSize] != 0x47)
        return {}; // not MPEG-TS
    // The stamps at places through the file, the last at its end: a join lies where they fall
    // (or wrap: see joinsWithin).
    std::vector<qint64> joins;
    for (int count = places;; count *= 2) {
        joins.clear();
        std::vector<std::pair<qint64, double>> read;
        for (int k = 0; k <= count; ++k)
            if (const qint64 pos = k < count ? size * k / count : std::max<qint64>(0, size - tail);
                const auto at = file.stampAt(pos))
                read.push_back({pos, *at});
        for (std::size_t k = 1; k < read.size(); ++k)
            if (read[k - 1].second - read[k].second > joinBack)
                joinsWithin(file, read[k - 1].first, read[k - 1].second, read[k].first, read[k].second, joins);
        qint64 shortest = size, from = 0;
        for (const qint64 to : joins)
            shortest = std::min(shortest, to - std::exchange(from, to));
        shortest = std::min(shortest, size - from);
        if (joins.empty() || count >= mostPlaces || shortest >= spanned * size / count)
            break;
    }
    if (joins.empty())
        return {};
    joins.push_back(size);
    std::vector<Piece> pieces;
    qint64 from = 0;
    for (const qint64 to : joins) {
        const auto length = lengthOf(file, from, to);
        if (!length)
            return {};
        pieces.push_back({from, to, *length});
        from = to;
    }
    return pieces;
}

// The file's name as the list names it. The list is read line by line: a file whose name
// breaks a line is named by a link to it, in the user's runtime folder, whose name does not.
std::optional<QByteArray> listedName(const QString& path)
{
    if (!path.contains(u'\n') && !path.contains(u'\r'))
        return QFile::encodeName(path);
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        return std::nullopt;
    const QString folder = runtime + QStringLiteral("/vantorel-links");
    const QString link = folder + u'/'
                         + QString::fromLatin1(QCryptographicHash::hash(QFile::encodeName(path), QCryptographicHash::Sha1).toHex())
                         + QStringLiteral(".ts");
    // The player, stills, waveforms and the export each ask on their own thread: a link one of
    // them is opening is never taken away by another.
    static std::mutex lock;
    std::lock_guard guard(lock);
    if (QFileInfo(link).symLinkTarget() != path) {
        QFile::remove(link);
        if (!QDir().mkpath(folder) || !QFile::link(path, link))
            return std::nullopt;
    }
    return QFile::encodeName(link);
}

} // namespace

std::vector<Piece> of(const QString& path)
{
    // Each file is read once as it stands: a still or a player opens it again and again.
    struct Known {
        qint64 size;
        QDateTime changed;
        std::vector<Piece> pieces;
    };
    static std::mutex lock;
    static std::map<QString, Known> known;
    const QFileInfo info(path);
    const QString key = info.absoluteFilePath();
    {
        std::lock_guard guard(lock);
        if (const auto it = known.find(key);
            it != known.end() && it->second.size == info.size() && it->second.changed == info.lastModified())
            return it->second.pieces;
    }
    std::vector<Piece> pieces = find(key);
    std::lock_guard guard(lock);
    known[key] = Known{info.size(), info.lastModified(), pieces};
    return pieces;
}

std::optional<QByteArray> joinedUrl(const QString& path)
{
    const std::vector<Piece> pieces = of(path);
    if (pieces.empty())
        return std::nullopt;
    // Each piece is the bytes of the file it was (the subfile protocol), lasting as long as its
    // stamps run, so that the next starts where it ends.
    auto listed = listedName(QFileInfo(path).absoluteFilePath());
    if (!listed)
        return std::nullopt;
    QByteArray& file = *listed;
    file.replace('\'', "'\\''");
    QByteArray list = "ffconcat version 1.0\n";
    for (const Piece& p : pieces)
        list += "file 'subfile,,start," + QByteArray::number(p.from) + ",end," + QByteArray::number(p.to) + ",,:" + file
                + "'\nduration " + QString::asprintf("%.6f", p.length).toLatin1() + '\n';
    return "data:text/plain;base64," + list.toBase64();
}

QStringList ffmpegInput(const QString& path)
{
    if (const auto url = joinedUrl(path))
        return {QStringLiteral("-f"), QStringLiteral("concat"), QStringLiteral("-safe"), QStringLiteral("0"),
                QStringLiteral("-i"), QString::fromLatin1(*url)};
    return {QStringLiteral("-i"), path};
}

} // namespace Pieces
