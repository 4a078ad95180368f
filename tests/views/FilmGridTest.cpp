// The film strip's cells and the stills it falls back on while finer ones load.

#include "views/kit/FilmGrid.h"

#include <QPainter>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

} // namespace

TEST(FilmGridLayout, CellsArePowersOfTwoOfWholeSecondsAboutOneStillWide)
{
    const FilmGridLayout minute = filmGridLayout(0, 60, 600, 54, 16.0 / 9);
    EXPECT_EQ(minute.step, 8);
    EXPECT_EQ(minute.seconds(), (std::vector<int>{4, 12, 20, 28, 36, 44, 52, 60}));
    EXPECT_EQ(minute.cells[1], (FilmCell{80, 80, 12}));

    const struct {
        double from, to, width, height, aspect;
        double step;
        std::vector<int> seconds;
    } cases[] = {
        // A stretch of zero length still gets one cell, showing its start at a 1 s step.
        {30, 30, 600, 54, 16.0 / 9, 1, {30}},
        // A stretch not on a step's edge: the first cell begins left of the strip.
        {3, 9, 600, 54, 16.0 / 9, 1, {3, 4, 5, 6, 7, 8}},
        {5, 13, 100, 54, 16.0 / 9, 8, {4, 12}},
        // Nothing to draw or load.
        {0, 60, 0, 54, 16.0 / 9, 0, {}},
        {0, 60, -5, 54, 16.0 / 9, 0, {}},
        {0, 60, 600, 0, 16.0 / 9, 0, {}},
        {0, 60, 600, notANumber, 16.0 / 9, 0, {}},
        {notANumber, 60, 600, 54, 16.0 / 9, 0, {}},
        {0, inf, 600, 54, 16.0 / 9, 0, {}},
        {0, 60, 600, 54, notANumber, 0, {}},
        {0, 60, 600, 54, 0, 0, {}},
        {0, 1e12, 600, 54, 16.0 / 9, 0, {}},
    };
    for (const auto& c : cases) {
        const FilmGridLayout grid = filmGridLayout(c.from, c.to, c.width, c.height, c.aspect);
        EXPECT_EQ(grid.step, c.step) << c.from << ".." << c.to << " in " << c.width;
        EXPECT_EQ(grid.seconds(), c.seconds) << c.from << ".." << c.to << " in " << c.width;
    }
}

TEST(FilmGridStill, FallsBackOnTheStillOfACoarserStep)
{
    QImage still(4, 4, QImage::Format_RGB32);
    auto cached = [&](std::initializer_list<int> seconds) {
        QMap<int, QImage> images;
        for (int s : seconds) {
            still.setText("second", QString::number(s));
            images.insert(s, still.copy());
        }
        return images;
    };
    const struct {
        QMap<int, QImage> images;
        int second;
        double step;
        int shown; // -1: none
    } cases[] = {
        {cached({7, 9}), 7, 1, 7},
        // The 2 s strip shows second 9 over second 8; the 4 s strip 10; the 8 s strip 12.
        {cached({9}), 8, 1, 9},
        {cached({10}), 8, 1, 10},
        {cached({12, 10}), 8, 1, 10},
        {cached({12}), 9, 2, 12},
        {cached({11}), 9, 2, -1},
        // The walk ends at the 4096 s strip, and starts only at steps up to 2048.
        {cached({2048}), 5, 1, 2048},
        {cached({4096}), 5, 1, -1},
        {cached({2048}), 5, 2048, 2048},
        {cached({2048}), 5, 4096, -1},
        {cached({}), 5, 1, -1},
    };
    for (const auto& c : cases) {
        const std::optional<QImage> found = filmStill(c.images, c.second, c.step);
        EXPECT_EQ(found ? found->text("second").toInt() : -1, c.shown) << c.second << " at step " << c.step;
    }
}

TEST(FilmGridDraw, FillsCellsWithStillsAndPlaceholders)
{
    QImage red(16, 9, QImage::Format_RGB32);
    red.fill(Qt::red);
    QImage canvas(200, 54, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    // 10 points a second and stills 96 wide: 8 s cells showing 4, 12 and 20.
    drawFilmGrid(painter, canvas.rect(), 0, 20, {{4, red}}, 16.0 / 9, Qt::white);
    painter.end();
    EXPECT_EQ(canvas.pixelColor(40, 27), QColor(Qt::red));
    EXPECT_EQ(canvas.pixelColor(120, 27).alpha(), qRound(255 * 0.08));
}
