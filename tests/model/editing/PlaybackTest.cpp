// The main player (the fake one): time mapping, the observer's ticks and the transport.

#include "model/editing/ShortTesting.h"

#include <cmath>

using namespace shorts;

namespace {

// Cut A 3.0-5.0 then cut B 0.5-3.5 (a 5 s Short); segment 01 (0-2.5, eight lines) and 02
// (3-5.5, two lines stored out of order).
class PlaybackTest : public ShortTest {
protected:
    void SetUp() override
    {
        ShortTest::SetUp();
        std::vector<Segment> list{segment("01", 0, 2.5), segment("02", 3, 5.5)};
        list[0].lines.emplace();
        for (int i = 0; i < 8; ++i)
            list[0].lines->push_back({i * 0.3, i * 0.3 + 0.25, "line"});
        list[1].lines = std::vector<Line>{{5.0, 5.2, "late"}, {3.1, 3.3, "early"}};
        openWith(plainClip(), {shortOf("Two", {cut(3.0, 5.0), cut(0.5, 3.5)})}, list);
        player().calls.clear();
    }
    void dropCuts()
    {
        Project p = model->project();
        p.shorts[0].cuts.clear();
        model->setProject(p);
    }
    double now() const { return model->clock().time(); }
};

TEST_F(PlaybackTest, ShortTimeAndRecordingTimeMapBothWays)
{
    // Short time, the cut under it, recording time; boundaries belong to the later cut.
    for (const auto& [t, cut, time] : std::vector<std::tuple<double, int, double>>{
             {2.0, 1, 0.5}, {1.999, 0, 4.999}, {7.0, 1, 3.5}, {-1.0, 0, 3.0}}) {
        EXPECT_EQ(model->locate(t)->cut, cut) << t;
        EXPECT_NEAR(model->locate(t)->time, time, 1e-9) << t;
    }
    // Recording times that two cuts hold map into the earlier cut; ends count.
    EXPECT_NEAR(*model->shortTime(3.2), 0.2, 1e-9);
    EXPECT_NEAR(*model->shortTime(5.0), 2.0, 1e-9);
    EXPECT_EQ(model->shortTime(5.5), std::nullopt);
    model->scrubShort(2.5);
    EXPECT_DOUBLE_EQ(model->recordingTime(), 1.0);
    model->scrubShort(std::nan(""));
    EXPECT_DOUBLE_EQ(model->recordingTime(), 1.0);

    // Cuts reaching outside the 6 s recording are timed as the player plays them: held inside.
    Project p = model->project();
    p.shorts[0].cuts = {cut(-1, 1), cut(5, 99)};
    model->setProject(p);
    EXPECT_EQ(model->locate(1.5), (AppModel::Place{1, 5.5}));
    EXPECT_NEAR(*model->shortTime(5.5), 1.5, 1e-9);
    dropCuts();
    EXPECT_EQ(model->locate(1), std::nullopt);
    EXPECT_EQ(model->recordingTime(), 0);
}

TEST_F(PlaybackTest, TheShortPlaysAsOneItemOverTheRecording)
{
    const QString recording = root + "/Stream.mp4";
    model->setMode(Mode::shortClip); // the playhead at 0 lies in no cut: the Short starts at 0
    EXPECT_EQ(player().calls, (QStringList{"pause", "short " + recording + " 3-5 0.5-3.5", "seek 0"}));

    model->showShort(99);
    EXPECT_EQ(player().calls.last(), "seek 4.98");
    model->showShort(-3);
    EXPECT_EQ(player().calls.last(), "seek 0");
    player().play();
    model->showShort(1);
    EXPECT_EQ(player().calls.last(), "play");

    model->setMode(Mode::segment); // Short time 1 is recording time 4
    EXPECT_TRUE(player().spans().empty());
    EXPECT_DOUBLE_EQ(now(), 4.0);
    model->clock().setTime(4.5);
    model->setMode(Mode::shortClip);
    EXPECT_DOUBLE_EQ(now(), 1.5);

    model->setMode(Mode::segment);
    dropCuts();
    player().calls.clear();
    model->setMode(Mode::shortClip);
    EXPECT_EQ(model->mode(), Mode::segment);
    EXPECT_EQ(player().calls, QStringList{"pause"});
}

TEST_F(PlaybackTest, TicksFollowThePlayer)
{
    model->show("01");
    player().play();
    player().report(2.0);
    EXPECT_TRUE(model->clock().playing());
    player().report(2.5); // the segment's end
    EXPECT_FALSE(player().playing);

    model->scrubbing = true;
    player().report(1.0);
    model->scrubbing = false;
    player().report(std::nan(""));
    EXPECT_DOUBLE_EQ(now(), 2.5); // neither changed the clock

    model->scrubShort(0);
    player().play();
    player().report(2.6); // cut B at 1.1: segment 01
    EXPECT_EQ(model->selection(), "01");
    player().report(0.5); // cut A at 3.5: segment 02, playing on
    EXPECT_EQ(model->selection(), "02");
    EXPECT_TRUE(player().playing);

    model->stopAt = StopAt{1.0, 0.2};
    player().report(1.05);
    EXPECT_FALSE(player().playing);
    EXPECT_EQ(model->stopAt, std::nullopt);
    EXPECT_EQ(player().calls.last(), "seek 0.2");
}

TEST_F(PlaybackTest, TheTransportStaysInsideWhatIsShown)
{
    model->show("01");
    model->clock().setTime(2.48);
    model->togglePlay(); // near the segment's end: from its start
    EXPECT_EQ(player().calls.mid(player().calls.size() - 2), (QStringList{"seek 0", "play"}));
    model->togglePlay();
    EXPECT_EQ(player().calls.last(), "pause");

    // Mode (or selected segment), playhead, step, where it lands.
    const std::vector<std::tuple<QString, double, double, double>> steps{
        {"short", 4.97, 1, 4.98}, {"short", 1, -10, 0}, {"02", 3.2, -1, 3}, {"none", 5.5, 1, 6}};
    for (const auto& [shown, from, by, to] : steps) {
        if (shown == "short")
            model->scrubShort(0);
        else if (shown == "none")
            model->setSelection(std::nullopt);
        else
            model->show(shown);
        model->clock().setTime(from);
        model->step(by);
        EXPECT_DOUBLE_EQ(now(), to) << shown.toStdString() << " " << from;
    }
    model->scrubShort(4.97);
    model->togglePlay(); // near the Short's end: from its start
    EXPECT_EQ(player().calls.mid(player().calls.size() - 2), (QStringList{"seek 0", "play"}));
}

TEST_F(PlaybackTest, MarksAndLineSelectionsMakeProperRanges)
{
    // A range set first (or none), the playhead, the edge, the range made.
    const std::vector<std::tuple<std::optional<TimeRange>, double, Edge, TimeRange>> marks{
        {TimeRange{0.8, 2.0}, 1.0, Edge::end, {0.7, 1.0}},
        {std::nullopt, 2.4, Edge::start, {2.4, 2.7}}, // the segment's bounds stand in for a range
        {TimeRange{0.5, 1.0}, 0.1, Edge::end, {0, 0.1}}, // never before the recording
        {TimeRange{0.5, 1.0}, -0.2, Edge::end, {0, 0}},  // nor inside out
    };
    for (const auto& [range, at, edge, made] : marks) {
        model->show("01");
        if (range) {
            model->clock().setTime(range->lower);
            model->mark(Edge::start);
            model->clock().setTime(range->upper);
            model->mark(Edge::end);
        }
        model->clock().setTime(at);
        model->mark(edge);
        EXPECT_NEAR(model->range()->lower, made.lower, 1e-9) << at;
        EXPECT_NEAR(model->range()->upper, made.upper, 1e-9) << at;
    }
    model->scrubShort(0.2); // cut A at 3.2
    model->mark(Edge::start);
    EXPECT_EQ(model->mode(), Mode::segment);
    EXPECT_NEAR(model->range()->lower, 3.2, 1e-9);

    model->show("01");
    model->selectLine(5, false);
    model->selectLine(7, true);
    player().play();
    model->selectLine(2, true);
    EXPECT_EQ(model->selectedLines(), (LineRange{2, 7}));
    EXPECT_EQ(model->range(), (TimeRange{0.6, 7 * 0.3 + 0.25}));
    EXPECT_DOUBLE_EQ(now(), 0.6);
    EXPECT_TRUE(player().playing);

    model->show("02");
    model->selectLine(0, false);
    model->selectLine(1, true);
    EXPECT_EQ(model->range(), (TimeRange{3.1, 5.2}));
}

// A recording that either player cannot play says so in the player's own sentence.
TEST_F(PlaybackTest, ARecordingThatCannotPlaySaysSo)
{
    const QString sentence = QStringLiteral("Stream.mp4 cannot be played: it is damaged.");
    Q_EMIT player().failed(sentence);
    EXPECT_EQ(model->toast(), std::optional(sentence));
    model->setToast(std::nullopt);
    Q_EMIT model->browser().player().failed(sentence);
    EXPECT_EQ(model->toast(), std::optional(sentence)) << "the stream window's";
}

} // namespace

namespace {

// A jump (a transcript line clicked) while a drag's newest time waits for the seek on its
// way: what follows starts from the jump, so the drag's time is never sent after it.
TEST_F(PlaybackTest, AJumpDropsTheTimeADragLeftWaiting)
{
    model->show(QStringLiteral("01"));
    player().seekDelay = 0.1; // each seek lands later, and reports then
    settle(300);
    player().calls.clear();
    model->handScrubbing = true;
    model->seek(1.0);
    model->seek(1.5); // waits for the seek to 1.0
    model->handScrubbing = false;
    model->selectLine(3, false); // line 3 starts at 0.9
    settle(500);
    EXPECT_EQ(player().calls.filter(QStringLiteral("seek")), (QStringList{"seek 1", "seek 0.9"}));
    EXPECT_NEAR(now(), 0.9, 1e-9);
}

// What a player cannot show (a recording it cannot play, a recording cut short) reaches the
// user as a toast, from the main player and from the stream window's alike.
TEST_F(PlaybackTest, WhatAPlayerCannotShowIsSaid)
{
    const struct {
        const char* which;
        std::function<Player&()> player;
    } table[] = {
        {"main", [&]() -> Player& { return player(); }},
        {"stream window", [&]() -> Player& { return model->browser().player(); }},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.which);
        model->setToast(std::nullopt);
        const QString sentence = QStringLiteral("Stream.mp4 ends early: it holds pictures up to 0:10:00 only.");
        Q_EMIT row.player().failed(sentence);
        EXPECT_EQ(model->toast(), sentence);
    }
}

} // namespace
