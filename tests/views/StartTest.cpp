// The start screen: where a recent project lies, the moment its picture comes from, the
// set-up checklist's shape, drops, and the set-up sheet that follows `fresh`.

#include "model/lifecycle/LifecycleTesting.h"
#include "platform/media/Media.h"
#include "support/Clips.h"
#include "support/gui/Scaled.h"
#include "views/kit/Desktop.h"
#include "views/start/RecentRow.h"
#include "views/start/SetupList.h"
#include "views/start/StartView.h"

#include <QFile>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <cstdlib>

using namespace lifecycle;

TEST(RecentRow, PlaceNamesTheFolderFromHome)
{
    const struct {
        const char* file;
        const char* home;
        const char* place;
    } cases[] = {
        {"/home/ann/Videos/Streams/2024/March/Final.vtrl", "/home/ann", "⌂ ▸ Videos ▸ … ▸ March"},
        {"/home/ann/Stream.vtrl", "/home/ann", "⌂"},
        {"/home/ann/Stream.vtrl", "/home/ann/", "⌂"},
        {"/media/Footage/Stream.vtrl", "/home/ann", "media ▸ Footage"},
        {"/Stream.vtrl", "/home/ann", ""},
        // Only the home folder itself or what lies inside it.
        {"/home/anna/x/Stream.vtrl", "/home/ann", "home ▸ anna ▸ x"},
        {"/home/ann/a/b/c.vtrl", "/", "home ▸ ann ▸ a ▸ b"},
        {"/home/ann/a/b/c/d.vtrl", "/", "home ▸ ann ▸ … ▸ c"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RecentRow::place(QString::fromUtf8(c.file), QString::fromUtf8(c.home)), QString::fromUtf8(c.place))
            << c.file << " from " << c.home;
}

TEST(RecentRow, StillComesFromTheFirstMarkerElseTheStart)
{
    Project p;
    EXPECT_EQ(RecentRow::stillTime(p), 60);
    p.segments = {segment("01", 850, 900, {}), segment("02", 2000, 2100, {2050})};
    EXPECT_EQ(RecentRow::stillTime(p), 850);
    p.segments.front().markers = {1000, 1100};
    EXPECT_EQ(RecentRow::stillTime(p), 1000);
}

TEST(SetupList, ShapeFollowsWhatIsMissing)
{
    const Setup::Item ok{QStringLiteral("ffmpeg"), true, QStringLiteral("a"), QStringLiteral("x")};
    const Setup::Item gone{QStringLiteral("whisper"), false, QStringLiteral("b"), QStringLiteral("y")};
    using Shape = SetupList::Shape;
    EXPECT_EQ(SetupList::shape({ok, gone}, true), (Shape{{gone}, true, true}));
    EXPECT_EQ(SetupList::shape({ok}, true), (Shape{{}, false, false}));
    EXPECT_EQ(SetupList::shape({}, true), (Shape{{}, false, false}));
    EXPECT_EQ(SetupList::shape({ok, gone}, false), (Shape{{ok, gone}, false, true}));
    EXPECT_EQ(SetupList::shape({}, false), (Shape{{}, false, true}));
}

TEST(SetupList, ReadsAgainOnlyWhenAsked)
{
    bool ready = false;
    SetupList list(false, nullptr, [&]() -> QCoro::Task<std::vector<Setup::Item>> {
        co_return std::vector<Setup::Item>{{QStringLiteral("ffmpeg"), ready, QStringLiteral("a"), std::nullopt}};
    });
    list.show();
    EXPECT_FALSE(list.shown().rows.at(0).ready);
    ready = true;
    QTest::qWait(10);
    EXPECT_FALSE(list.shown().rows.at(0).ready);
    list.findChild<QPushButton*>()->click();
    EXPECT_TRUE(list.shown().rows.at(0).ready);
}

class StartViewTest : public LifecycleTest {};

TEST_F(StartViewTest, ADropOpensTheFirstLocalFileAndAsksToSetItUp)
{
    auto model = makeModel();
    StartView view(*model);
    view.show();
    const QString first = copy(plainClip(), root + QStringLiteral("/First.mp4"));
    QMimeData data;
    data.setUrls({QUrl(QStringLiteral("https://example.com/a.mp4")), QUrl::fromLocalFile(first),
                  QUrl::fromLocalFile(root + QStringLiteral("/Second.mp4"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &enter);
    EXPECT_TRUE(view.hovering());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &drop);
    EXPECT_FALSE(view.hovering());

    ASSERT_TRUE(waitUntil([&] { return model->fresh().has_value(); }));
    EXPECT_EQ(model->fresh(), first);
    ASSERT_TRUE(waitUntil([&] { return view.sheet() != nullptr; }));
    view.sheet()->reject();
    EXPECT_EQ(model->fresh(), std::nullopt);

    // Cleared from elsewhere, the sheet goes too.
    model->setFresh(first);
    ASSERT_TRUE(waitUntil([&] { return view.sheet() != nullptr; }));
    model->setFresh(std::nullopt);
    EXPECT_TRUE(waitUntil([&] { return view.sheet() == nullptr; }));
}

TEST_F(StartViewTest, ListsOnlyRecentsThatExist)
{
    const QString kept = openPackage(*makeModel(), QStringLiteral("Kept"));
    Prefs::shared().set(QStringLiteral("recents"), QStringList{root + QStringLiteral("/Gone.vtrl"), kept});
    auto model = makeModel();
    StartView view(*model);
    EXPECT_EQ(view.listedRecents(), QStringList{kept});
    auto rows = view.findChildren<RecentRow*>();
    ASSERT_EQ(rows.size(), 1);
    view.show();
    // Its picture is made from the recording beside it.
    EXPECT_TRUE(waitUntil([&] { return !rows.front()->still().isNull(); }));
    rows.front()->click();
    EXPECT_TRUE(waitUntil([&] { return model->video().has_value(); }));
}

namespace {

// 2 s of 3840x2160 H.264, as a 4K stream recording is.
QString uhdClip()
{
    return sharedClip(QStringLiteral("uhd.mp4"), [](const QString& p) {
        return Clips::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=3840x2160:rate=10:duration=2", "-c:v", "libx264",
                              "-preset", "ultrafast", "-pix_fmt", "yuv420p", p})
            ? p
            : QString();
    });
}

// The process's memory of its own (heaps, thread stacks) that is resident, in bytes: what
// the program keeps, whatever the C library's heaps count as free.
qint64 residentAnonymous()
{
    QFile file(QStringLiteral("/proc/self/smaps_rollup"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("Anonymous:"))
            return line.mid(10).trimmed().split(' ').front().toLongLong() * 1024;
    }
    return -1;
}

} // namespace

// A recent row keeps only the square it shows, in device pixels, cut from the middle of its
// recording's picture whatever that picture's shape (a larger still kept for every recent
// is memory the start screen never shows), and the still's making keeps nothing: a 2160p
// recording's decoded pictures, freed on a worker thread, are handed back to the system.
// On HiDPI screens too: each scale in a child.
TEST_F(StartViewTest, ARecentKeepsOnlyTheSquareItShows)
{
    if (!scaled::inChild()) {
        for (const char* factor : {"2", "1.25"}) {
            const QString failed = scaled::runCurrentTestAt(QString::fromLatin1(factor));
            EXPECT_TRUE(failed.isEmpty()) << "at scale " << factor << ":\n" << failed.toStdString();
        }
    }
    auto model = makeModel();
    const struct {
        const char* name;
        QString clip;
    } cases[] = {{"Wide", plainClip()},
                 {"Upright", uprightClip()},
                 {"Square-ish", largeClip()},
                 {"2160p", uhdClip()}};
    // A window's backing store on a HiDPI screen is a block of many megabytes (30 MB for one
    // of 1920x1000 points at scale 2), freed as the window is resized. Left to adapt, the C
    // library then took blocks up to that size from the threads' heaps and let each heap keep
    // twice that free: the worker's heap kept all of a 2160p still's pictures.
    QImage(3840, 2000, QImage::Format_RGB32).fill(Qt::black);
    for (const auto& c : cases) {
        ASSERT_FALSE(c.clip.isEmpty()) << "ffmpeg could not make the " << c.name << " clip";
        const QString recording = copy(c.clip, root + u'/' + QString::fromLatin1(c.name) + QStringLiteral(".mp4"));
        const QString package =
            writePackage(root + u'/' + QString::fromLatin1(c.name) + QStringLiteral(".vtrl"), projectOf(recording));
        const qint64 before = residentAnonymous();
        RecentRow row(*model, package);
        row.show();
        ASSERT_TRUE(waitUntil([&] { return !row.still().isNull(); })) << c.name;
        // 34 points square: 34, 68 and 43 (42.5 rounded up) device pixels.
        const qreal scale = row.devicePixelRatioF();
        const int side = scale == 2 ? 68 : scale == 1.25 ? 43 : 34;
        ASSERT_EQ(row.still().size(), QSize(side, side)) << c.name << " at scale " << scale;
        // Not even half of one decoded 2160p picture (12 MB) stays with the process.
        const qint64 held = residentAnonymous() - before;
        EXPECT_LT(held, 6 << 20) << c.name << " at scale " << scale;

        // The middle of the picture, neither squeezed nor cut from a corner.
        const QImage whole = Media::stillNow(recording, RecentRow::stillTime(projectOf(recording)), {});
        const int shorter = std::min(whole.width(), whole.height());
        const QImage middle = whole.copy((whole.width() - shorter) / 2, (whole.height() - shorter) / 2, shorter,
                                         shorter)
                                  .scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                  .convertToFormat(QImage::Format_RGB32);
        const QImage kept = row.still().convertToFormat(QImage::Format_RGB32);
        double apart = 0;
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                const QRgb a = kept.pixel(x, y), b = middle.pixel(x, y);
                apart += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
            }
        }
        EXPECT_LT(apart / (3.0 * side * side), 16) << c.name << " at scale " << scale;
    }
}

TEST(SetupList, CopyCommandPutsTheCommandOnTheClipboard)
{
    QStringList copied;
    const Desktop saved = Desktop::current();
    Desktop::current().copy = [&](const QString& text) { copied << text; };
    SetupList list(true, nullptr, []() -> QCoro::Task<std::vector<Setup::Item>> {
        co_return std::vector<Setup::Item>{
            {QStringLiteral("whisper"), false, QStringLiteral("a"), QStringLiteral("brew install whisper-cpp")},
            {QStringLiteral("OpenRouter key"), false, QStringLiteral("b"), std::nullopt}};
    });
    list.show();
    QList<QPushButton*> copies;
    for (QPushButton* button : list.findChildren<QPushButton*>()) {
        if (button->text() == u"Copy Command")
            copies << button;
    }
    ASSERT_EQ(copies.size(), 1); // the key has nothing to install
    EXPECT_EQ(copies.front()->toolTip(), QStringLiteral("Paste it into a terminal: brew install whisper-cpp"));
    copies.front()->click();
    EXPECT_EQ(copied, QStringList{QStringLiteral("brew install whisper-cpp")});
    Desktop::current() = saved;
}
