// The Short editor's panes: the waveform's bars, the strips' layouts, the transcripts'
// derivations, and, on a model with a fake player, the scrub rule, Shift+click and the
// correction rule.

#include "model/lifecycle/AppModel.h"
#include "support/FakePlayer.h"
#include "support/Segments.h"
#include "views/editor/Inspector.h"
#include "model/editing/Composition.h"
#include "views/editor/ShortTranscript.h"
#include "views/editor/Transcript.h"
#include "views/editor/Viewer.h"
#include "views/windows/BrowserView.h"
#include "views/kit/Scrub.h"
#include "views/kit/VideoSurface.h"
#include "views/kit/Wave.h"
#include "views/start/Rows.h"

#include <QApplication>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStyleHints>
#include <QWindow>
#include <QLabel>
#include <QSlider>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>

namespace {

const double notANumber = std::numeric_limits<double>::quiet_NaN();

Cut cutOf(double start, double end)
{
    return {QUuid::createUuid(), start, end, {}};
}

std::vector<Line> linesAt(std::initializer_list<std::pair<double, double>> spans)
{
    std::vector<Line> lines;
    for (const auto& [a, b] : spans)
        lines.push_back({a, b, QStringLiteral("line %1").arg(lines.size())});
    return lines;
}

// A model with a fake player over segments "01" (10–20 s, four lines) and "02" (20–30 s),
// and a Short of two cuts.
struct Editor {
    FakePlayer* player = new FakePlayer;
    AppModel model{std::unique_ptr<Player>(player), std::make_unique<FakePlayer>()};
    QUuid shortId = QUuid::createUuid();

    Editor()
    {
        Project p;
        p.duration = 100;
        Segment a = segment(QStringLiteral("01"), 10, 20, {15});
        a.lines = linesAt({{10, 12}, {12, 14}, {14, 16}, {16, 18}});
        a.peaks = QByteArray(200, '\x40');
        p.segments = {a, segment(QStringLiteral("02"), 20, 30)};
        Short s;
        s.id = shortId;
        s.title = QStringLiteral("Roof");
        s.cuts = {cutOf(11, 15), cutOf(22, 26)};
        p.shorts = {s};
        model.setProject(p);
        model.setSelection(QStringLiteral("01"));
    }
    void settle() { QApplication::processEvents(); }
    void showIn(QWidget& view, int width, int height)
    {
        view.resize(width, height);
        view.show();
        settle();
    }
    SegmentPane* shown(InspectorView& inspector)
    {
        inspector.resize(400, 600);
        inspector.show();
        settle();
        return inspector.segment;
    }
};

// A shorter double-click time for the tests that wait for a click to count as single.
struct QuickDoubleClick {
    const int was = QGuiApplication::styleHints()->mouseDoubleClickInterval();
    QuickDoubleClick() { QGuiApplication::styleHints()->setMouseDoubleClickInterval(60); }
    ~QuickDoubleClick() { QGuiApplication::styleHints()->setMouseDoubleClickInterval(was); }
};

// Waits until a click on the transcript has counted as a single click.
void settleClick(Transcript* list)
{
    for (int i = 0; i < 200 && list->clickPending(); ++i)
        QTest::qWait(5);
    QApplication::processEvents();
}

} // namespace

TEST(Wave, BarsEveryTwoPointsAtLeastOneHigh)
{
    const QByteArray silent(40, '\0');
    const QByteArray loud(40, char(255));
    const struct {
        std::optional<QByteArray> peaks;
        double from, to;
        QRectF in;
        std::vector<QRectF> bars;
    } cases[] = {
        {silent, 0, 1, {10, 0, 3, 20}, {{10, 9.5, 1.3, 1}, {12, 9.5, 1.3, 1}}},
        {loud, 0, 1, {0, 0, 4, 20}, {{0, 0, 1.3, 20}, {2, 0, 1.3, 20}}},
        // Only the columns whose time lies inside the bytes.
        {loud, 1.5, 2.5, {0, 0, 4, 20}, {{0, 0, 1.3, 20}}},
        {loud, -1, 1, {0, 0, 4, 20}, {{2, 0, 1.3, 20}}},
        {loud, 1, 1, {0, 0, 4, 20}, {}},
        {loud, 0, 1, {0, 0, 0, 20}, {}},
        {loud, 0, notANumber, {0, 0, 4, 20}, {}},
        {QByteArray(), 0, 1, {0, 0, 4, 20}, {}},
        {std::nullopt, 0, 1, {0, 0, 4, 20}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(waveBars(c.peaks, c.from, c.to, c.in), c.bars) << c.from << " " << c.to << " " << c.in.width();
}

TEST(Strips, PlacesTimesAndPointerPositions)
{
    EXPECT_EQ(viewer::stripX(15, 10, 10, 200), 100.0);
    EXPECT_EQ(viewer::stripX(5, 10, 10, 200), -100.0); // outside: clipped by the strip, not clamped
    EXPECT_EQ(viewer::stripX(15, 10, 0, 200), std::nullopt);
    EXPECT_EQ(viewer::stripX(15, 10, 10, 0), std::nullopt);

    const struct {
        double x, width;
        std::optional<double> f;
    } cases[] = {{50, 100, 0.5}, {150, 100, 0.999}, {-5, 100, 0.0}, {notANumber, 100, 0.0}, {5, 0, std::nullopt},
                 {5, notANumber, std::nullopt}};
    for (const auto& c : cases)
        EXPECT_EQ(Scrub::fraction(c.x, c.width), c.f) << c.x << " / " << c.width;
}

TEST(Strips, LaysTheShortsCutsBackToBack)
{
    Project p;
    p.segments = {segment(QStringLiteral("01"), 0, 10), segment(QStringLiteral("02"), 10, 20)};
    // The second cut starts where "01" ends: it shows "02", looked up just after its start.
    const auto pieces = viewer::shortLayout(p, {cutOf(2, 4), cutOf(10, 16), cutOf(50, 52)}, 100);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].x0, 0);
    EXPECT_EQ(pieces[0].x1, 20);
    EXPECT_FALSE(pieces[0].join);
    EXPECT_EQ(pieces[0].segment, &p.segments[0]);
    EXPECT_EQ(pieces[0].from, 2);
    EXPECT_EQ(pieces[1].segment, &p.segments[1]);
    EXPECT_EQ(pieces[1].from, 0);
    EXPECT_EQ(pieces[1].to, 6);
    EXPECT_TRUE(pieces[1].join);
    EXPECT_EQ(pieces[1].x0, 20);
    EXPECT_EQ(pieces[2].segment, nullptr);
    EXPECT_EQ(pieces[2].x1, 100);
    // A Short of 0.05 s scales as 0.1 s; a strip without width lays out nothing.
    EXPECT_NEAR(viewer::shortLayout(p, {cutOf(1, 1.05)}, 100)[0].x1, 50, 1e-9);
    EXPECT_TRUE(viewer::shortLayout(p, {cutOf(1, 2)}, 0).empty());
}

TEST(Transcript, LightsUsesAndLabelsLines)
{
    const auto lines = linesAt({{0, 2}, {2, 4}, {5, 6}});
    const struct {
        double t;
        std::optional<int> now;
    } nows[] = {{0, 0}, {1.9, 0}, {2, 1}, {4, std::nullopt}, {4.5, std::nullopt}, {6, std::nullopt}, {notANumber, std::nullopt}};
    for (const auto& c : nows)
        EXPECT_EQ(transcript::nowIndex(lines, c.t), c.now) << c.t;

    const std::vector<Cut> cuts = {cutOf(10, 20)};
    const struct {
        Line line;
        bool used;
    } uses[] = {{{9, 10.05, {}}, false}, {{9, 10.06, {}}, true}, {{19.95, 21, {}}, false}, {{19.9, 21, {}}, true},
                {{12, 13, {}}, true},    {{0, 10, {}}, false}};
    for (const auto& c : uses)
        EXPECT_EQ(transcript::lineUsed(c.line, cuts), c.used) << c.line.t0 << "-" << c.line.t1;

    const struct {
        double t;
        const char* text;
    } times[] = {{0, "0:00"},       {123, "2:03"},        {754.9, "12:34"},     {3599, "59:59"},
                 {3600, "1:00:00"}, {3723, "1:02:03"},   {36000, "10:00:00"}, {-3, "0:00"}, {notANumber, "0:00"}};
    for (const auto& c : times)
        EXPECT_EQ(transcript::lineTime(c.t), QString::fromLatin1(c.text)) << c.t;

    EXPECT_EQ(transcript::firstEndingAfter(lines, 3), 1);
    EXPECT_EQ(transcript::firstEndingAfter(lines, 6), std::nullopt);
}

TEST(ShortTranscript, FindsLinesWithinGhostsAndTimes)
{
    const auto lines = linesAt({{0, 2}, {2, 4}, {4.5, 6}, {6, 8}});
    const struct {
        Cut cut;
        std::vector<int> within;
        std::optional<int> before, after;
    } cases[] = {
        {cutOf(2, 6), {1, 2}, 0, 3},
        {cutOf(1.96, 6.04), {1, 2}, 0, 3},                // grazing by 0.05 s or less is not within
        {cutOf(1.9, 6.1), {0, 1, 2, 3}, std::nullopt, std::nullopt},
        {cutOf(4.1, 4.4), {}, 1, 2},                      // between two lines
        {cutOf(20, 30), {}, 3, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shortscript::linesWithin(lines, c.cut), c.within) << c.cut.start;
        EXPECT_EQ(shortscript::ghostBefore(lines, c.cut), c.before) << c.cut.start;
        EXPECT_EQ(shortscript::ghostAfter(lines, c.cut), c.after) << c.cut.start;
    }
    // A line reaching back before the cut starts, in Short time, at the cut's own start.
    EXPECT_EQ(shortscript::lineSpan({1, 3, {}}, cutOf(2, 6), 10), std::make_pair(10.0, 11.0));
    EXPECT_EQ(shortscript::caption(0, 0), QStringLiteral("Short · 0 cuts · 0:00.0"));
    EXPECT_EQ(shortscript::caption(1, 4), QStringLiteral("Short · 1 cut · 0:04.0"));
    EXPECT_EQ(shortscript::caption(3, 42.5), QStringLiteral("Short · 3 cuts · 0:42.5"));
}

TEST(Inspector, ChoosesThePanelAndCaption)
{
    Editor e;
    const Project& p = e.model.project();
    const auto other = QUuid::createUuid();
    using inspector::Panel;
    const struct {
        Mode mode;
        std::optional<QString> selection;
        std::optional<QUuid> active;
        Panel panel;
    } cases[] = {
        {Mode::shortClip, QStringLiteral("01"), e.shortId, Panel::shortClip},
        {Mode::shortClip, QStringLiteral("01"), other, Panel::segment},
        {Mode::shortClip, std::nullopt, other, Panel::none},
        {Mode::segment, QStringLiteral("01"), e.shortId, Panel::segment},
        {Mode::segment, QStringLiteral("09"), e.shortId, Panel::none},
    };
    for (const auto& c : cases)
        EXPECT_EQ(inspector::panelFor(c.mode, p, c.selection, c.active), c.panel);

    EXPECT_EQ(viewer::caption(e.model), QStringLiteral("Segment 01"));
    e.model.setSelection(std::nullopt);
    EXPECT_EQ(viewer::caption(e.model), QStringLiteral("Segment "));
    e.model.activate(e.shortId);
    EXPECT_EQ(viewer::caption(e.model), QStringLiteral("Short · Roof"));
}

// Each event of a drag comes in a turn of its own, as the window gets them. The order holds
// whether the player's seek calls return at once or hold the window a while (a busy
// machine, or the real player on a recording with key frames seconds apart): then the
// next seek goes a turn later, and the drag's last time still goes before it plays again.
TEST(Scrub, PausesSeeksAndResumesInThatOrder)
{
    for (const int holdMs : {0, 20}) {
        SCOPED_TRACE(holdMs);
        Editor e;
        e.player->holdMs = holdMs;
        ViewerView viewer(e.model);
        viewer.resize(400, 300);
        viewer.show();
        e.settle();
        Strip* strip = viewer.strip;
        ASSERT_TRUE(strip->isVisible());
        const int w = strip->width();
        e.player->play();
        e.player->calls.clear();
        QTest::mousePress(strip, Qt::LeftButton, {}, QPoint(w / 2, 10));
        e.settle();
        QTest::mouseMove(strip, QPoint(w + 40, 10));
        e.settle();
        QTest::mouseRelease(strip, Qt::LeftButton, {}, QPoint(w + 40, 10));
        e.settle();
        EXPECT_EQ(e.player->calls, QStringList({"pause", QStringLiteral("seek %1").arg(10 + 10 * (w / 2) / double(w)),
                                                "seek 19.99", "play"}));
        EXPECT_FALSE(e.model.handScrubbing);
        EXPECT_FALSE(e.model.resumeAfterScrub);

        // Paused before: stays paused. A strip without width seeks nothing.
        e.player->pause();
        e.player->calls.clear();
        QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(0, 10));
        e.settle();
        EXPECT_EQ(e.player->calls, QStringList({"pause", "seek 10"}));
        strip->resize(0, 38);
        e.player->calls.clear();
        QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(0, 10));
        e.settle();
        EXPECT_TRUE(e.player->calls.isEmpty());

        // The stream window's player follows the same rule on its own pair of flags.
        auto& other = static_cast<FakePlayer&>(e.model.browser().player());
        other.play();
        other.calls.clear();
        Scrub::begin(Scrub::of(e.model.browser()));
        Scrub::begin(Scrub::of(e.model.browser())); // a second change does not pause again
        EXPECT_TRUE(e.model.browser().dragging);
        Scrub::end(Scrub::of(e.model.browser()));
        EXPECT_EQ(other.calls, QStringList({"pause", "play"}));
        EXPECT_FALSE(e.model.browser().resume);

        // The Short strip seeks in Short time.
        e.model.activate(e.shortId);
        e.settle();
        strip->resize(w, 38);
        e.player->calls.clear();
        QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(w / 4, 10));
        e.settle();
        EXPECT_EQ(e.player->calls, QStringList({"pause", QStringLiteral("seek %1").arg(8 * (w / 4) / double(w))}));
    }
}

TEST(Transport, MutesToZeroAndUnmutesToFull)
{
    Editor e;
    Transport transport(e.model);
    transport.volume->setValue(400);
    EXPECT_FLOAT_EQ(e.model.volume(), 0.4f);
    transport.speaker->click();
    EXPECT_EQ(e.model.volume(), 0.0f);
    transport.speaker->click();
    EXPECT_EQ(e.model.volume(), 1.0f);
    EXPECT_FALSE(transport.shortMode->isEnabled()); // no active Short
    e.model.activate(e.shortId);
    transport.refresh();
    EXPECT_TRUE(transport.shortMode->isEnabled());
    EXPECT_TRUE(transport.shortMode->isChecked());
    EXPECT_EQ(transport.of->text(), QStringLiteral("of 0:08.0"));
}

TEST(Transcript, ShiftClickWidensTheSelection)
{
    Editor e;
    InspectorView inspector(e.model);
    Transcript* list = e.shown(inspector)->transcript;
    const QuickDoubleClick quick;
    const auto click = [&](int row, Qt::KeyboardModifiers mods) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, mods, list->visualRect(list->lines.index(row)).center());
        settleClick(list);
    };
    click(2, Qt::ShiftModifier); // nothing selected yet: just this line
    EXPECT_EQ(e.model.selectedLines(), (LineRange{2, 2}));
    click(3, Qt::ShiftModifier);
    EXPECT_EQ(e.model.selectedLines(), (LineRange{2, 3}));
    click(0, Qt::ShiftModifier); // above: widens upward, keeps the upper bound
    EXPECT_EQ(e.model.selectedLines(), (LineRange{0, 3}));
    EXPECT_EQ(e.model.range(), (TimeRange{10, 18}));
    click(1, {});
    EXPECT_EQ(e.model.selectedLines(), (LineRange{1, 1}));
}

TEST(Transcript, ShiftClickAfterLinesOfALongerTranscriptStartsAfresh)
{
    Editor e;
    e.model.setSelectedLines(LineRange{5, 9}); // left from a segment with more lines
    e.model.selectLine(1, true);
    EXPECT_EQ(e.model.selectedLines(), (LineRange{1, 1}));
    EXPECT_EQ(e.model.range(), (TimeRange{12, 14}));
}

TEST(Transcript, ACorrectionLandsOnlyOnTheLineItWasOpenedOn)
{
    Editor e;
    InspectorView inspector(e.model);
    Transcript* list = e.shown(inspector)->transcript;
    const auto textOf = [&](const QString& id, int i) {
        for (const Segment& s : e.model.project().segments)
            if (s.id == id)
                return (*s.lines)[size_t(i)].text;
        return QString();
    };

    e.player->play();
    list->startCorrection(1);
    EXPECT_FALSE(e.player->playing);
    int resets = 0;
    QObject::connect(&list->lines, &QAbstractItemModel::modelReset, [&] { ++resets; });
    list->submit(QStringLiteral("  what was said \n"));
    e.settle();
    EXPECT_EQ(textOf("01", 1), QStringLiteral("what was said"));
    EXPECT_EQ(list->lines.lines()[1].text, QStringLiteral("what was said"));
    EXPECT_EQ(resets, 0); // the list keeps its place
    EXPECT_FALSE(list->correction());

    // The selection moves to a segment with its own lines while the field is open: the
    // draft goes, and nothing lands on the other segment.
    list->startCorrection(0);
    ASSERT_TRUE(list->correction());
    Project p = e.model.project();
    p.segments[1].lines = linesAt({{20, 22}});
    e.model.setProject(p);
    e.model.setSelection(QStringLiteral("02"));
    e.settle();
    EXPECT_FALSE(list->correction());
    list->submit(QStringLiteral("typed for 01"));
    EXPECT_EQ(textOf("02", 0), QStringLiteral("line 0"));
    EXPECT_EQ(textOf("01", 0), QStringLiteral("line 0"));

    // The lines change under an open field (the pipeline transcribed again): dropped too.
    list->startCorrection(0);
    p = e.model.project();
    (*p.segments[1].lines)[0].text = QStringLiteral("heard again");
    e.model.setProject(p);
    e.settle();
    EXPECT_FALSE(list->correction());

    // Return pressed before the pane caught up with a changed line: the draft goes too.
    list->startCorrection(0);
    p = e.model.project();
    (*p.segments[1].lines)[0].text = QStringLiteral("heard a third time");
    e.model.setProject(p);
    list->submit(QStringLiteral("typed over the old text"));
    EXPECT_EQ(textOf("02", 0), QStringLiteral("heard a third time"));
    e.settle();
    p = e.model.project();
    (*p.segments[1].lines)[0].text = QStringLiteral("heard again");
    e.model.setProject(p);
    e.settle();

    // Escape drops the draft.
    list->startCorrection(0);
    QWidget* field = list->indexWidget(list->lines.index(0));
    ASSERT_NE(field, nullptr);
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_FALSE(list->correction());
    EXPECT_EQ(textOf("02", 0), QStringLiteral("heard again"));
}

TEST(ShortTranscript, AClickOnALineMovesThePlayheadAndKeepsPlaying)
{
    Editor e;
    e.model.activate(e.shortId);
    ShortTranscript view(e.model);
    e.showIn(view, 400, 600);
    // Cut 1 (11–15) plays lines 0 (from the cut's start), 1 and 2; cut 2 lies in "02", which has none.
    ASSERT_EQ(view.rows().size(), 3u);
    EXPECT_EQ(view.rows()[0].start, 0);
    EXPECT_EQ(view.rows()[1].start, 1);
    e.player->play();
    e.player->calls.clear();
    QTest::mouseClick(view.rows()[1].row, Qt::LeftButton);
    EXPECT_EQ(e.player->calls, QStringList({"pause", "seek 1", "play"}));
    EXPECT_EQ(e.model.selectedCut(), e.model.cuts()[0].id);
}

// Edges off the player's 1/600 s grid (Scribe gives milliseconds): each line's time lies in
// its own cut as the Short plays, so a click on it seeks there and not into the cut before.
TEST(ShortTranscript, LineTimesFallInTheirOwnCutWhenEdgesLieOffTheGrid)
{
    Editor e;
    Project p = e.model.project();
    std::vector<Cut>& cuts = p.shorts[0].cuts;
    cuts[0].start = 11.0017;
    cuts[0].end = 14.9983;
    cuts.push_back(cutOf(16.0, 18.0));
    e.model.setProject(p);
    e.model.activate(e.shortId);
    ShortTranscript view(e.model);
    e.settle();
    const ShortLine played = Composition::line(e.model.cuts(), e.model.project().duration);
    bool third = false;
    for (const ShortTranscript::Shown& row : view.rows()) {
        EXPECT_EQ(played.at(row.start)->span, row.cut) << row.start;
        third = third || row.cut == 2;
    }
    EXPECT_TRUE(third);
}

TEST(ShortTranscript, FollowsTheCutThatStartsPlayingOnlyWhilePlaying)
{
    Editor e;
    Project p = e.model.project();
    p.shorts[0].cuts.clear();
    for (int c = 0; c < 12; ++c)
        p.shorts[0].cuts.push_back(cutOf(10 + c * 0.5, 10.5 + c * 0.5));
    e.model.setProject(p);
    e.model.activate(e.shortId);
    ShortTranscript view(e.model);
    view.resize(300, 200);
    view.show();
    e.settle();
    QScrollBar* bar = view.scroll->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    e.model.clock().setTime(2.2); // cut 5, paused
    view.tick();
    EXPECT_EQ(bar->value(), 0);
    e.model.clock().setPlaying(true);
    e.model.clock().setTime(3.2); // cut 7, playing
    view.tick();
    EXPECT_EQ(bar->value(), std::min(view.groups()[6]->y(), bar->maximum()));
}

TEST(ShortTranscript, AGhostStretchesItsCutToTakeTheLineIn)
{
    Editor e;
    e.model.activate(e.shortId);
    ShortTranscript view(e.model);
    e.settle();
    // The one ghost: after cut 1 (11–15), line 3 (16–18); no line of "01" ends before 11.
    QWidget* after = nullptr;
    for (QWidget* w : view.findChildren<QWidget*>())
        if (w->toolTip() == QStringLiteral("Add this line to the cut"))
            after = w;
    ASSERT_NE(after, nullptr);
    QTest::mouseClick(after, Qt::LeftButton);
    EXPECT_EQ(e.model.cuts()[0].end, 18);
    EXPECT_TRUE(e.model.canUndo());
}

// After an edit the player is often busy for a while; a list that only appears on a later
// turn of the event loop would stay blank for that long.
TEST(ShortTranscript, ARebuiltListIsShownAndLaidOutAtOnce)
{
    const std::vector<std::pair<const char*, std::function<void(AppModel&)>>> edits = {
        {"trim", [](AppModel& m) {
             m.trim(m.cuts()[0].id, Edge::end, 14, std::nullopt);
             m.endTrim(m.cuts()[0].id, Edge::end);
         }},
        {"move", [](AppModel& m) { m.moveCut(1, 0); }},
        {"new cut", [](AppModel& m) {
             m.setRange(TimeRange{16, 18});
             m.addRange();
         }},
    };
    for (const auto& [name, edit] : edits) {
        Editor e;
        e.model.activate(e.shortId);
        ShortTranscript view(e.model);
        e.showIn(view, 400, 600);
        edit(e.model);
        view.rebuild(); // what the coalesced refresh runs, with no turn of the event loop after it
        ASSERT_GE(view.groups().size(), 2u) << name;
        for (QWidget* g : view.groups())
            EXPECT_TRUE(g->isVisible()) << name;
        EXPECT_GT(view.groups()[1]->y(), view.groups()[0]->y()) << name;
    }
}

TEST(Inspector, HeaderBodyAndMarkedBarFollowTheSegment)
{
    const auto with = [](std::optional<std::vector<Line>> lines, std::optional<QString> error, QString title) {
        Segment s = segment(QStringLiteral("01"), 0, 10);
        s.lines = std::move(lines);
        s.error = std::move(error);
        s.title = std::move(title);
        return s;
    };
    using inspector::Body;
    const struct {
        Segment segment;
        Body body;
        bool summarize;
    } cases[] = {
        {with(linesAt({{0, 1}}), std::nullopt, {}), Body::transcript, true},
        {with(linesAt({{0, 1}}), std::nullopt, QStringLiteral("Titled")), Body::transcript, false},
        {with(std::vector<Line>{}, QStringLiteral("old failure"), {}), Body::transcript, false}, // empty: no notice
        {with(std::nullopt, QStringLiteral("It failed."), {}), Body::failed, false},
        {with(std::nullopt, std::nullopt, {}), Body::waiting, false},
    };
    for (const auto& c : cases) {
        Editor e;
        Project p = e.model.project();
        p.segments[0] = c.segment;
        e.model.setProject(p);
        InspectorView inspector(e.model);
        SegmentPane* pane = e.shown(inspector);
        EXPECT_EQ(inspector::bodyFor(c.segment), c.body);
        EXPECT_EQ(pane->summarize->isVisible(), c.summarize) << c.segment.title.toStdString();
        EXPECT_EQ(pane->heading->text(), c.segment.title.isEmpty() ? QStringLiteral("Segment 01") : c.segment.title);
    }

    Editor e;
    InspectorView inspector(e.model);
    SegmentPane* pane = e.shown(inspector);
    EXPECT_EQ(pane->titleLine->text(), QStringLiteral("Segment 01 · 0:00:10 to 0:00:20"));
    pane->favourite->click();
    EXPECT_EQ(e.model.project().segments[0].rating, 1);
    pane->favourite->click(); // a lit star makes the segment neutral again
    EXPECT_EQ(e.model.project().segments[0].rating, std::nullopt);

    EXPECT_FALSE(pane->marked->isVisible());
    e.model.selectLine(1, false);
    e.settle();
    EXPECT_TRUE(pane->marked->isVisible());
    EXPECT_EQ(pane->markedLength->text(), QStringLiteral("0:02.0 marked"));
    for (QPushButton* b : pane->marked->findChildren<QPushButton*>())
        if (b->text() == QStringLiteral("Clear"))
            b->click();
    EXPECT_EQ(e.model.range(), std::nullopt);
    EXPECT_EQ(e.model.selectedLines(), std::nullopt);
    e.settle();
    EXPECT_FALSE(pane->marked->isVisible());
}

TEST(Viewer, LeavesTheStripOutWhenNoSegmentIsShown)
{
    Editor e;
    ViewerView viewer(e.model);
    viewer.resize(400, 300);
    viewer.show();
    e.settle();
    EXPECT_TRUE(viewer.strip->isVisible());
    e.model.setSelection(QStringLiteral("09"));
    e.settle();
    EXPECT_FALSE(viewer.strip->isVisible());
    EXPECT_EQ(viewer::caption(e.model), QStringLiteral("Segment 09"));
    e.model.activate(e.shortId);
    e.settle();
    EXPECT_TRUE(viewer.strip->isVisible());
    EXPECT_EQ(viewer.strip->height(), 38);
}

// What the picture waits for (a long seek) shows over it, painted in the middle of the
// picture, in the viewer and in the stream window, for as long as the player waits.
TEST(Viewer, ShowsWhatThePictureWaitsFor)
{
    Editor e;
    ViewerView viewer(e.model);
    BrowserView stream(e.model);
    auto& second = static_cast<FakePlayer&>(e.model.browser().player());
    for (auto [player, surface] : {std::pair{e.player, viewer.picture}, std::pair{&second, stream.picture}}) {
        surface->resize(320, 180);
        // The light pixels in the middle of the surface, over a black picture.
        const auto lit = [surface = surface] {
            const QImage shot = surface->grab().toImage();
            int n = 0;
            for (int y = shot.height() / 3; y < shot.height() * 2 / 3; ++y)
                for (int x = shot.width() / 4; x < shot.width() * 3 / 4; ++x)
                    n += qGray(shot.pixel(x, y)) > 60;
            return n;
        };
        const int before = lit();
        player->setWaiting(QStringLiteral("Finding the picture…"));
        EXPECT_EQ(surface->note(), QStringLiteral("Finding the picture…"));
        EXPECT_GT(lit(), before + 100) << "painted over the picture";
        player->setWaiting(std::nullopt);
        EXPECT_EQ(surface->note(), QString());
        EXPECT_EQ(lit(), before);
    }
    EXPECT_EQ(viewer.picture->note(), QString()) << "each window shows its own player's";
}

// The mood line is measured and painted with the same widths: at the width it asks for,
// it shows its whole text, never "tense · f…".
TEST(Inspector, TheMoodLineShowsItsWholeText)
{
    const struct {
        const char* energy;
        const char* kind;
    } moods[] = {{"tense", "fail"}, {"calm", "chat"}, {"hype", "clutch"}, {"panic", "fail"}, {"funny", "bit"},
                 {"tense", "comeback after the wipe"}};
    for (const double points : {9.0, 10.5, 11.0, 12.5, 13.0}) {
        for (const auto& mood : moods) {
            Segment s = segment(QStringLiteral("01"), 0, 10);
            s.energy = QString::fromUtf8(mood.energy);
            s.kind = QString::fromUtf8(mood.kind);
            Vibe vibe;
            QFont font = vibe.font();
            font.setPointSizeF(points);
            vibe.setFont(font);
            vibe.setSegment(s);
            const QSize asked = vibe.sizeHint();
            vibe.resize(asked);
            const QImage fitted = vibe.grab().toImage();
            vibe.resize(asked.width() + 60, asked.height());
            const QImage roomy = vibe.grab().toImage().copy(QRect(QPoint(0, 0), asked));
            EXPECT_TRUE(fitted == roomy) << mood.energy << " · " << mood.kind << " at " << points << " points";
        }
    }
}

// The first press of a double-click cannot know a second will follow: a click counts only
// once the double-click time has passed. Until then the row shows as selected at once, so
// the click still answers the hand; a double-click leaves the selection, the mark and the
// playhead as they were, and a key pressed meanwhile finds the click already counted.
TEST(Transcript, ADoubleClickCorrectsWithoutSelectingMarkingOrSeeking)
{
    const QuickDoubleClick quick;
    Editor e;
    InspectorView inspector(e.model);
    Transcript* list = e.shown(inspector)->transcript;
    e.model.selectLine(0, false);
    e.settle();
    const auto lines = e.model.selectedLines();
    const auto range = e.model.range();
    const double time = e.model.recordingTime();
    e.player->calls.clear();
    QWindow* window = inspector.windowHandle();
    ASSERT_TRUE(window);
    const auto pointAt = [&](int row) {
        return list->viewport()->mapTo(&inspector, list->visualRect(list->lines.index(row)).center());
    };

    // Through the window, so that the platform makes the double-click out of two presses.
    QTest::mouseDClick(window, Qt::LeftButton, {}, pointAt(2));
    ASSERT_TRUE(list->correction());
    EXPECT_EQ(list->correction()->line, 2);
    QTest::qWait(150); // past the double-click time
    EXPECT_EQ(e.model.selectedLines(), lines);
    EXPECT_EQ(e.model.range(), range);
    EXPECT_EQ(e.model.recordingTime(), time);
    EXPECT_EQ(e.player->calls, QStringList({"pause"}));
    EXPECT_TRUE(list->lines.row(0).selected);
    EXPECT_FALSE(list->lines.row(2).selected);
    QTest::keyClick(list->indexWidget(list->lines.index(2)), Qt::Key_Escape);

    // A single click: the row lights at once, the model follows after the double-click time.
    QTest::mouseClick(window, Qt::LeftButton, {}, pointAt(3));
    EXPECT_TRUE(list->lines.row(3).selected);
    EXPECT_FALSE(list->lines.row(0).selected);
    EXPECT_EQ(e.model.selectedLines(), lines);
    settleClick(list);
    EXPECT_EQ(e.model.selectedLines(), (LineRange{3, 3}));
    EXPECT_EQ(e.model.range(), (TimeRange{16, 18}));
    EXPECT_FALSE(list->correction());

    // A key pressed before the double-click time is up acts on the clicked line.
    QTest::mouseClick(window, Qt::LeftButton, {}, pointAt(1));
    QTest::keyClick(list, Qt::Key_Shift);
    EXPECT_EQ(e.model.selectedLines(), (LineRange{1, 1}));
    EXPECT_FALSE(list->clickPending());
}

// A second press on the line whose click waits (one the platform does not make a
// double-click of) is the same click: the line is selected, marked and sought to once.
TEST(Transcript, ASecondPressOnTheWaitingLineSelectsItOnce)
{
    const QuickDoubleClick quick;
    const struct {
        const char* what;
        Qt::KeyboardModifiers modifiers;
        LineRange selected;
    } table[] = {
        {"plain", {}, {2, 2}},
        {"with Shift", Qt::ShiftModifier, {0, 2}},
    };
    for (const auto& row : table) {
        Editor e;
        InspectorView inspector(e.model);
        Transcript* list = e.shown(inspector)->transcript;
        e.model.selectLine(0, false);
        e.settle();
        e.player->calls.clear();
        int selections = 0;
        QObject::connect(&e.model, &AppModel::selectedLinesChanged, &inspector, [&selections] { ++selections; });
        const QPoint at = list->visualRect(list->lines.index(2)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, row.modifiers, at);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, row.modifiers, at + QPoint(4, 0));
        settleClick(list);
        EXPECT_EQ(e.model.selectedLines(), row.selected) << row.what;
        EXPECT_EQ(selections, 1) << row.what;
        EXPECT_EQ(e.player->calls, QStringList({"seek 14"})) << row.what;
    }
}

// The field takes the row's place: the row paints nothing of its own under it.
TEST(Transcript, TheRowBeingCorrectedPaintsNothingUnderTheField)
{
    Editor e;
    InspectorView inspector(e.model);
    Transcript* list = e.shown(inspector)->transcript;
    e.model.selectLine(1, false); // selected and under the playhead: every mark drawn
    e.settle();
    const auto paintRow = [&](int row) {
        const QModelIndex at = list->lines.index(row);
        QStyleOptionViewItem option;
        option.rect = QRect(QPoint(0, 0), list->visualRect(at).size());
        QImage image(option.rect.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        list->itemDelegate()->paint(&p, option, at);
        p.end();
        QImage blank(image.size(), image.format());
        blank.fill(Qt::transparent);
        return image == blank;
    };
    EXPECT_FALSE(paintRow(1));
    list->startCorrection(1);
    auto* field = qobject_cast<QPlainTextEdit*>(list->indexWidget(list->lines.index(1)));
    ASSERT_TRUE(field);
    const int oneLine = list->visualRect(list->lines.index(1)).height();
    // Typed into the one-line field, which scrolls to keep the cursor in sight.
    field->selectAll();
    field->textCursor().insertText(QStringLiteral("what was really said, and a good deal more than the line held before"));
    e.settle();
    EXPECT_TRUE(paintRow(1));
    EXPECT_FALSE(paintRow(2));
    // The field grows downward with its draft, so the whole draft shows.
    EXPECT_GT(list->visualRect(list->lines.index(1)).height(), oneLine);
    EXPECT_EQ(field->height(), list->visualRect(list->lines.index(1)).height());
    EXPECT_EQ(field->verticalScrollBar()->value(), 0) << "the draft shows from its first line";
}

// A click that waits for the double-click time acts on the line it was made on, or not at
// all: when the transcript under it was replaced meanwhile, it selects nothing and seeks
// nowhere (the same row now holds other words at another time).
TEST(Transcript, AWaitingClickIsDroppedWhenItsLinesAreReplaced)
{
    const QuickDoubleClick quick;
    const struct {
        const char* what;
        std::function<void(Editor&)> meanwhile;
    } table[] = {
        {"transcribed again",
         [](Editor& e) {
             Project p = e.model.project();
             p.segments[0].lines = linesAt({{10, 11}, {11, 19}, {19, 20}});
             e.model.setProject(p);
         }},
        {"another project with a segment of the same name",
         [](Editor& e) {
             Project p = e.model.project();
             p.segments[0].lines = linesAt({{10, 13}, {13, 20}});
             e.model.close();
             e.model.setProject(p);
             e.model.setSelection(QStringLiteral("01"));
         }},
        {"the project closed", [](Editor& e) { e.model.close(); }},
    };
    for (const auto& row : table) {
        Editor e;
        InspectorView inspector(e.model);
        Transcript* list = e.shown(inspector)->transcript;
        QWindow* window = inspector.windowHandle();
        ASSERT_TRUE(window);
        e.player->calls.clear();
        QTest::mouseClick(window, Qt::LeftButton, {},
                          list->viewport()->mapTo(&inspector, list->visualRect(list->lines.index(1)).center()));
        ASSERT_TRUE(list->clickPending()) << row.what;
        row.meanwhile(e);
        e.settle();
        settleClick(list);
        EXPECT_FALSE(e.model.selectedLines()) << row.what;
        EXPECT_FALSE(e.model.range()) << row.what;
        EXPECT_FALSE(e.player->calls.filter(QStringLiteral("seek")).size()) << row.what;
        EXPECT_FALSE(list->clickPending()) << row.what;
    }
}

// The field grows downward with its draft: on the last line of a short pane the list
// scrolls along, so that the line being typed stays in sight.
TEST(Transcript, TheLineBeingTypedStaysInSight)
{
    Editor e;
    InspectorView inspector(e.model);
    Transcript* list = e.shown(inspector)->transcript;
    inspector.resize(400, 300);
    e.settle();
    const int last = list->lines.rowCount() - 1;
    list->scrollToBottom();
    e.settle();
    list->startCorrection(last);
    auto* field = qobject_cast<QPlainTextEdit*>(list->indexWidget(list->lines.index(last)));
    ASSERT_TRUE(field);
    for (int i = 0; i < 8; ++i) {
        field->insertPlainText(QStringLiteral("more and more words that the field has to wrap "));
        e.settle();
        const QRect cursor(field->viewport()->mapTo(list->viewport(), field->cursorRect().topLeft()),
                           field->cursorRect().size());
        EXPECT_TRUE(list->viewport()->rect().contains(cursor.center())) << "after " << i + 1 << " pieces";
    }
}
