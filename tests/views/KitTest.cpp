// The shared view kit: the duration format, the picture's fit, the spinner, the
// one-window-per-id rule and the awaited dialog.

#include "support/Await.h"
#include "views/kit/Dialogs.h"
#include "views/kit/FilePicker.h"
#include "views/kit/Format.h"
#include "views/kit/Spinner.h"
#include "views/kit/Style.h"
#include "views/kit/Toast.h"
#include "support/FakePlayer.h"
#include "support/gui/Scaled.h"
#include "views/kit/VideoSurface.h"
#include "views/kit/Windows.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QDir>
#include <QFileDialog>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QVideoFrame>
#include <QVideoSink>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

TEST(Span, FormatsMinutesAndSecondsWithoutRoundingTheMinutes)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0, "0:00.0"},        {75.25, "1:15.2"},     {65, "1:05.0"},       {3600, "60:00.0"},
        {59.96, "0:60.0"},    {3725.5, "62:05.5"},   {-5, "0:-5.0"},       {-65, "-1:-5.0"},
        {nan, "–:––.–"},      {inf, "–:––.–"},       {-inf, "–:––.–"},     {1e300, "–:––.–"},
        {9.3e18, "–:––.–"},   {128849018819.0, "2147483646:59.0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(span(c.seconds), QString::fromUtf8(c.text)) << c.seconds;
}

TEST(VideoSurface, FitsThePictureInsideKeepingItsShape)
{
    EXPECT_EQ(VideoSurface::fit({1920, 1080}, {0, 0, 400, 400}), QRectF(0, 87.5, 400, 225));
    EXPECT_EQ(VideoSurface::fit({1080, 1920}, {0, 0, 400, 400}), QRectF(87.5, 0, 225, 400));
    EXPECT_TRUE(VideoSurface::fit({}, {0, 0, 400, 400}).isEmpty());

    VideoSurface surface;
    surface.resize(160, 90);
    QImage red(16, 9, QImage::Format_RGB32);
    red.fill(Qt::red);
    QRectF overlaid;
    surface.overlay = [&](QPainter&, const QRectF& picture) { overlaid = picture; };
    surface.showImage(red);
    const QImage drawn = surface.grab().toImage();
    EXPECT_EQ(drawn.pixelColor(80, 45), QColor(Qt::red));
    EXPECT_EQ(overlaid, QRectF(0, 0, 160, 90));

    // A picture of another shape than the surface's is scaled whole into the middle, with
    // black bars beside or above and below it.
    const struct {
        QSize picture;
        QRectF where;
        QPoint inside[2];
        QPoint bar[2];
    } cases[] = {
        {{16, 16}, {35, 0, 90, 90}, {{37, 45}, {122, 45}}, {{33, 45}, {127, 45}}},
        {{32, 9}, {0, 22.5, 160, 45}, {{80, 25}, {80, 65}}, {{80, 20}, {80, 69}}},
        {{900, 1600}, {54.6875, 0, 50.625, 90}, {{57, 2}, {102, 88}}, {{53, 45}, {106, 45}}},
    };
    for (const auto& c : cases) {
        QImage picture(c.picture, QImage::Format_RGB32);
        picture.fill(Qt::red);
        surface.showImage(picture);
        const QImage shown = surface.grab().toImage();
        EXPECT_EQ(overlaid, c.where) << c.picture.width() << "x" << c.picture.height();
        for (const QPoint& at : c.inside)
            EXPECT_EQ(shown.pixelColor(at), QColor(Qt::red)) << c.picture.width() << "x" << c.picture.height();
        for (const QPoint& at : c.bar)
            EXPECT_EQ(shown.pixelColor(at), QColor(Qt::black)) << c.picture.width() << "x" << c.picture.height();
    }
}

TEST(VideoSurface, AFrameClearedWhileHiddenIsNotShownAgain)
{
    QVideoSink sink;
    VideoSurface surface;
    surface.setSink(&sink);
    surface.show();
    QVideoFrame frame(QVideoFrameFormat(QSize(16, 8), QVideoFrameFormat::Format_BGRX8888));
    ASSERT_TRUE(frame.map(QVideoFrame::WriteOnly));
    std::fill_n(frame.bits(0), frame.mappedBytes(0), uchar(0x80));
    frame.unmap();
    sink.setVideoFrame(frame);
    EXPECT_FALSE(surface.image().isNull());
    surface.hide();
    sink.setVideoFrame(frame);
    sink.setVideoFrame(QVideoFrame()); // the player stopped while nobody looked
    surface.show();
    EXPECT_TRUE(surface.image().isNull());
    surface.setSink(nullptr);
}

namespace {

// A player that keeps the sizes it is asked for and hands over the frames a test gives it.
class Sized final : public FakePlayer {
public:
    QVideoSink* videoSink() const override { return const_cast<QVideoSink*>(&sink); }
    void setPictureSize(QSize size) override { sizes.push_back(size); }
    QVideoSink sink;
    std::vector<QSize> sizes;
};

// A picture as the player makes it: its rows white and black by turns.
QVideoFrame striped(QSize size)
{
    QVideoFrame frame(QVideoFrameFormat(size, QVideoFrameFormat::Format_BGRX8888));
    if (!frame.map(QVideoFrame::WriteOnly))
        return {};
    for (int row = 0; row < size.height(); ++row)
        std::fill_n(frame.bits(0) + row * frame.bytesPerLine(0), size.width() * 4, uchar(row % 2 ? 0 : 255));
    frame.unmap();
    return frame;
}

} // namespace

// A surface tells its player the size it shows the picture at, in device pixels, as it is
// shown and resized; a picture of that size is painted pixel for pixel, one line of white
// and one of black as the player made it, not blended by a scaling.
TEST(VideoSurface, TellsItsPlayerItsSizeAndPaintsAPictureOfThatSizeAsItIs)
{
    Sized player;
    {
        VideoSurface surface;
        surface.radius = 0;
        surface.resize(200, 100);
        surface.setPlayer(&player);
        surface.show();
        ASSERT_FALSE(player.sizes.empty());
        EXPECT_EQ(player.sizes.back(), QSize(200, 100));
        surface.resize(300, 120);
        EXPECT_EQ(player.sizes.back(), QSize(300, 120));

        // Upright and fitted, as the player makes it: 120 high, its lines white and black.
        QVideoFrame frame(QVideoFrameFormat(QSize(90, 120), QVideoFrameFormat::Format_BGRX8888));
        ASSERT_TRUE(frame.map(QVideoFrame::WriteOnly));
        for (int row = 0; row < 120; ++row)
            std::fill_n(frame.bits(0) + row * frame.bytesPerLine(0), 90 * 4, uchar(row % 2 ? 0 : 255));
        frame.unmap();
        player.sink.setVideoFrame(frame);
        const QImage drawn = surface.grab().toImage();
        EXPECT_EQ(drawn.pixelColor(150, 40), QColor(Qt::white));
        EXPECT_EQ(drawn.pixelColor(150, 41), QColor(Qt::black));
        EXPECT_EQ(drawn.pixelColor(104, 60), QColor(Qt::black)); // beside the picture
        EXPECT_EQ(drawn.pixelColor(105, 60), QColor(Qt::white));
        surface.setPlayer(nullptr);
        const std::size_t told = player.sizes.size();
        surface.resize(400, 200);
        EXPECT_EQ(player.sizes.size(), told); // a player it no longer shows is not told
    }
    player.sink.setVideoFrame(QVideoFrame()); // reaches no surface that went
}

// On a scaled screen (a HiDPI desktop at 2, or at 1.25) the surface asks its player for its
// size in device pixels, and paints the picture that comes at that size pixel for pixel,
// in the middle of the surface at its logical size, with bars beside it. Each scale in a
// child process.
TEST(VideoSurface, OnAScaledScreenAsksForDevicePixelsAndPaintsThemAsTheyCome)
{
    if (!scaled::inChild()) {
        for (const char* factor : {"2", "1.25"}) {
            const QString failed = scaled::runCurrentTestAt(QString::fromLatin1(factor));
            EXPECT_TRUE(failed.isEmpty()) << "at scale " << factor << ":\n" << failed.toStdString();
        }
    }
    Sized player;
    {
        VideoSurface surface;
        surface.radius = 0;
        surface.resize(200, 100);
        QRectF overlaid;
        surface.overlay = [&](QPainter&, const QRectF& picture) { overlaid = picture; };
        surface.setPlayer(&player);
        surface.show();
        const qreal scale = surface.devicePixelRatioF();
        const struct {
            qreal scale;
            QSize told;    // device pixels
            QSize picture; // upright 3:4, fitted into what was told
            QRectF where;  // logical
            int left;      // the picture's first column, in device pixels
        } cases[] = {
            {1, {200, 100}, {75, 100}, {62.5, 0, 75, 100}, 63}, // half a pixel over
            {2, {400, 200}, {150, 200}, {62.5, 0, 75, 100}, 125},
            {1.25, {250, 125}, {94, 125}, {62.4, 0, 75.2, 100}, 78},
        };
        const auto c =
            std::find_if(std::begin(cases), std::end(cases), [&](const auto& row) { return row.scale == scale; });
        ASSERT_NE(c, std::end(cases)) << "no row for scale " << scale;
        ASSERT_FALSE(player.sizes.empty());
        EXPECT_EQ(player.sizes.back(), c->told) << "at scale " << scale;

        player.sink.setVideoFrame(striped(c->picture));
        const QImage drawn = surface.grab().toImage();
        ASSERT_EQ(drawn.size(), c->told) << "at scale " << scale;
        EXPECT_NEAR(overlaid.x(), c->where.x(), 1e-9) << "at scale " << scale;
        EXPECT_NEAR(overlaid.width(), c->where.width(), 1e-9) << "at scale " << scale;
        EXPECT_EQ(overlaid.y(), c->where.y()) << "at scale " << scale;
        EXPECT_EQ(overlaid.height(), c->where.height()) << "at scale " << scale;
        const int right = c->left + c->picture.width() - 1;
        for (const int row : {0, 40, 41, c->told.height() - 1}) {
            const QColor line = row % 2 ? QColor(Qt::black) : QColor(Qt::white);
            for (const int column : {c->left, c->told.width() / 2, right})
                EXPECT_EQ(drawn.pixelColor(column, row), line)
                    << "at scale " << scale << ", device pixel " << column << "," << row;
            EXPECT_EQ(drawn.pixelColor(c->left - 1, row), QColor(Qt::black)) << "at scale " << scale << ", row " << row;
            EXPECT_EQ(drawn.pixelColor(right + 1, row), QColor(Qt::black)) << "at scale " << scale << ", row " << row;
        }
        surface.setPlayer(nullptr);
    }
    player.sink.setVideoFrame(QVideoFrame());
}

TEST(Spinner, TurnsOnlyWhileShown)
{
    QWidget window;
    auto* spinner = new Spinner(&window);
    EXPECT_FALSE(spinner->turning());
    window.show();
    EXPECT_TRUE(spinner->turning());
    window.hide();
    EXPECT_FALSE(spinner->turning());
}

TEST(Windows, MakesEachWindowOnceAndRaisesItAfterwards)
{
    int made = 0;
    Windows::define(QStringLiteral("activity"), [&] {
        ++made;
        return new QWidget;
    });
    QWidget* first = Windows::open(QStringLiteral("activity"));
    first->hide();
    QWidget* second = Windows::open(QStringLiteral("activity"));
    EXPECT_EQ(first, second);
    EXPECT_EQ(made, 1);
    EXPECT_TRUE(second->isVisible());
    EXPECT_EQ(Windows::open(QStringLiteral("nobody")), nullptr);
    Windows::reset();
    EXPECT_EQ(Windows::existing(QStringLiteral("activity")), nullptr);
}

TEST(Dialogs, ADialogDestroyedBeforeItEndsCountsAsRejected)
{
    QPointer<QDialog> accepted = new QDialog;
    QTimer::singleShot(0, accepted, [&] { accepted->accept(); });
    EXPECT_EQ(await(finished(accepted)), QDialog::Accepted);
    delete accepted;

    auto* doomed = new QDialog;
    QTimer::singleShot(0, [doomed] { delete doomed; });
    EXPECT_EQ(await(finished(doomed)), QDialog::Rejected);
}

TEST(Style, SymbolsComeFromTheBundledDrawings)
{
    for (const char* name : {"film", "folder", "checkmark.circle.fill", "exclamationmark.triangle.fill", "vantorel"}) {
        const QImage image = Style::symbol(QString::fromLatin1(name), Qt::red, 24).toImage();
        bool drawn = false;
        for (int y = 0; y < image.height() && !drawn; ++y)
            for (int x = 0; x < image.width() && !drawn; ++x)
                drawn = qAlpha(image.pixel(x, y)) > 0;
        EXPECT_TRUE(drawn) << name;
    }
}

TEST(FilePicker, APackageFolderIsPickedAsOneItem)
{
    QTemporaryDir dir;
    const QString package = dir.path() + QStringLiteral("/Evening.vtrl");
    QDir().mkpath(package + QStringLiteral("/cache"));
    QWidget window;
    window.show();
    // Open on the package's name picks it instead of going into it.
    QTimer::singleShot(50, [&] {
        for (auto* dialog : window.findChildren<QFileDialog*>()) {
            dialog->setDirectory(dir.path());
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("Evening.vtrl"));
            QMetaObject::invokeMethod(dialog, "accept");
        }
    });
    const auto picked = await(FilePicker::standard().open(&window, FilePicker::Kind::either, QStringLiteral("Open")));
    EXPECT_EQ(picked, package);
}

TEST(Toast, ATextWiderThanTheWindowWrapsInsideIt)
{
    QWidget window;
    window.resize(400, 300);
    Toast toast(&window);
    toast.present(QStringLiteral("Transcribed 12 segments again. Summaries are unchanged; Stream \u25B8 "
                                 "Summarize Segments Again refreshes them"));
    toast.place(100);
    EXPECT_LE(toast.width(), 360);
    EXPECT_GE(toast.x(), 20);
    auto* label = toast.findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    EXPECT_LE(label->geometry().right(), toast.width());
    // All of it, on more lines than one.
    EXPECT_GT(label->height(), 2 * label->fontMetrics().height() - 2);
    EXPECT_EQ(toast.y() + toast.height(), window.height() - 100);
}

namespace {

// How much of `area` of `image` is drawn in a reddish colour.
int reddish(const QImage& image, const QRect& area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += c.red() > 150 && c.green() < 120 && c.blue() < 120;
        }
    return n;
}

} // namespace

TEST(Style, DestructiveItemsReadRedAndSeparatorsShowInBothSchemes)
{
    const QPalette before = QApplication::palette();
    for (const QPalette& scheme : {Style::darkPalette(), Style::lightPalette()}) {
        QApplication::setPalette(scheme);
        QMenu menu;
        QAction* plain = menu.addAction(QStringLiteral("Duplicate"));
        QAction* line = menu.addSeparator();
        QAction* gone = menu.addAction(QStringLiteral("Delete Short"));
        Style::markDestructive(gone);
        QAction* off = menu.addAction(QStringLiteral("Remove Segment"));
        Style::markDestructive(off);
        off->setEnabled(false);
        menu.popup({0, 0});
        QCoreApplication::processEvents();
        const QImage image = menu.grab().toImage();
        EXPECT_EQ(reddish(image, menu.actionGeometry(plain)), 0);
        EXPECT_GT(reddish(image, menu.actionGeometry(gone)), 10);
        // A disabled item looks disabled, not red.
        EXPECT_EQ(reddish(image, menu.actionGeometry(off)), 0);
        // The separator's middle row stands out from the menu's background beside it.
        const QRect sep = menu.actionGeometry(line);
        const QColor back = image.pixelColor(sep.left() + 2, sep.center().y());
        const QColor mid = image.pixelColor(sep.center());
        EXPECT_GT(std::abs(qGray(mid.rgb()) - qGray(back.rgb())), 12);
        menu.hide();
    }
    QApplication::setPalette(before);
}
