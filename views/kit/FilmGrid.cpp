#include "views/kit/FilmGrid.h"

#include "model/editing/Frames.h"
#include "views/kit/Style.h"

#include <QCache>
#include <QPaintDevice>
#include <QPainter>
#include <QTimer>
#include <cmath>

namespace {

bool positive(double v) { return std::isfinite(v) && v > 0; }

// Beyond this the seconds no longer fit an int; no recording is that long.
constexpr double farthest = 1 << 30;

// `image` scaled to `size` pixels, kept for the next paint: scaling every still on every
// paint would cost more than the rest of a timeline's frame.
const QImage& scaled(const QImage& image, QSize size)
{
    static QCache<std::pair<qint64, qint64>, QImage> made(64 << 20);
    const std::pair<qint64, qint64> key{image.cacheKey(), (qint64(size.width()) << 32) | size.height()};
    if (const QImage* found = made.object(key))
        return *found;
    auto* fresh = new QImage(image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    const qsizetype cost = std::max<qsizetype>(fresh->sizeInBytes(), 1);
    if (!made.insert(key, fresh, cost))
        return image; // larger than the whole cache: drawn from the still as it is
    return *made.object(key);
}

} // namespace

std::vector<int> FilmGridLayout::seconds() const
{
    std::vector<int> list;
    list.reserve(cells.size());
    for (const FilmCell& cell : cells)
        list.push_back(cell.second);
    return list;
}

FilmGridLayout filmGridLayout(double from, double to, double width, double height, double aspect)
{
    FilmGridLayout grid;
    if (!positive(width) || !positive(height) || !positive(aspect) || !std::isfinite(from) || !std::isfinite(to)
        || std::abs(from) > farthest || std::abs(to) > farthest)
        return grid;
    const double span = std::max(to - from, 0.001);
    const double pps = width / span;
    const double perStill = std::max(aspect * height / pps, 0.001);
    grid.step = std::max(std::exp2(std::round(std::log2(perStill))), 1.0);
    const double first = std::floor(from / grid.step);
    const double last = std::max(first + 1, std::ceil(to / grid.step));
    const double half = grid.step >= 2 ? grid.step / 2 : 0;
    grid.cells.reserve(size_t(last - first));
    for (double i = first; i < last; ++i)
        grid.cells.push_back({pps * (grid.step * i - from), grid.step * pps, int(half + grid.step * i)});
    return grid;
}

std::optional<QImage> filmStill(const QMap<int, QImage>& images, int second, double step)
{
    if (const auto own = images.constFind(second); own != images.cend())
        return *own;
    if (!(step >= 1 && step <= 2048))
        return std::nullopt;
    for (int h = int(step);; h *= 2) {
        if (const auto coarser = images.constFind(second / (2 * h) * (2 * h) + h); coarser != images.cend())
            return *coarser;
        if (h > 1024)
            return std::nullopt;
    }
}

void drawFilmGrid(QPainter& painter, const QRectF& rect, double from, double to, const QMap<int, QImage>& images,
                  double aspect, const QColor& primary)
{
    const FilmGridLayout grid = filmGridLayout(from, to, rect.width(), rect.height(), aspect);
    if (grid.cells.empty())
        return;
    const QColor faint = Style::faded(primary, 0.08);
    const double ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    painter.save();
    for (const FilmCell& cell : grid.cells) {
        const QRectF box(rect.left() + cell.x, rect.top(), cell.width, rect.height());
        const QRectF shown = box & rect;
        if (shown.isEmpty())
            continue;
        const std::optional<QImage> image = filmStill(images, cell.second, grid.step);
        if (!image || image->isNull()) {
            painter.fillRect(shown.adjusted(0.5, 0, -0.5, 0), faint);
            continue;
        }
        // Scaled to fill the cell and centred on it; only the part inside the cell (and
        // the strip) is taken from the image, which is the same as clipping but cheaper.
        const double drawnWidth = std::max(aspect * box.height(), box.width());
        const QRectF drawn(box.center().x() - drawnWidth / 2, box.center().y() - drawnWidth / aspect / 2, drawnWidth,
                           drawnWidth / aspect);
        const QSize pixels(std::max(1, int(std::lround(drawn.width() * ratio))),
                           std::max(1, int(std::lround(drawn.height() * ratio))));
        const QImage& still = scaled(*image, pixels);
        const double sx = still.width() / drawn.width();
        const double sy = still.height() / drawn.height();
        const QRectF source((shown.left() - drawn.left()) * sx, (shown.top() - drawn.top()) * sy, shown.width() * sx,
                            shown.height() * sy);
        painter.drawImage(shown, still, source);
    }
    painter.restore();
}

void drawFilmGrid(QPainter& painter, const QRectF& rect, double from, double to, const Frames& frames,
                  const QColor& primary)
{
    drawFilmGrid(painter, rect, from, to, frames.images(), frames.aspect(), primary);
}

FilmLoader::FilmLoader(Frames& frames, QObject* parent)
    : QObject(parent)
    , frames_(&frames)
{
}

void FilmLoader::want(std::vector<int> seconds)
{
    if (seconds == seconds_)
        return;
    seconds_ = std::move(seconds);
    const int generation = ++generation_;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation != generation_ || !frames_)
            return;
        for (int second : seconds_)
            frames_->load(second);
    });
}
