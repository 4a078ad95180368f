// The main player with the fake player: time mapping between the recording and a Short,
// the observer's ticks, and the transport.

#include "model/editing/ShortTesting.h"

using namespace shorts;

namespace {

// Cut A 3.0-5.0 (2 s) then cut B 0.5-3.5 (3 s); segments 01 (0-2.5) and 02 (3-5.5).
class PlaybackTest : public ShortTest {
protected:
    QString recording;
    void SetUp() override
    {
        ShortTest::SetUp();
        openWith(plainClip(), {shortOf("Two", {cut(3.0, 5.0), cut(0.5, 3.5)})}, segments());
        recording = root + "/Stream.mp4";
        player().calls.clear();
    }
    static std::vector<Segment> segments()
    {
        std::vector<Segment> list{segment("01", 0, 2.5), segment("02", 3, 5.5)};
        std::vector<Line> lines;
        for (int i = 0; i < 8; ++i)
            lines.push_back({i * 0.3, i * 0.3 + 0.25, QString::number(i)});
        list[0].lines = lines;
        list[1].lines = std::vector<Line>{{5.0, 5.2, "late"}, {3.1, 3.3, "early"}};
        return list;
    }
    void dropCuts()
    {
        Project p = model->project();
        p.shorts[0].cuts.clear();
        model->setProject(p);
    }
};

TEST_F(PlaybackTest, ShortTimeAndRecordingTimeMapBothWays)
{
    using Place = AppModel::Place;
    const std::vector<std::pair<double, Place>> located{
        {2.0, {1, 0.5}}, {1.999, {0, 4.999}}, {7.0, {1, 3.5}}, {-1.0, {0, 3.0}}, {0.0, {0, 3.0}}};
    for (const auto& [t, place] : located) {
        const auto got = model->locate(t);
        ASSERT_TRUE(got) << t;
        EXPECT_EQ(got->cut, place.cut) << t;
        EXPECT_NEAR(got->time, place.time, 1e-9) << t;
    }
    const std::vector<std::pair<double, std::optional<double>>> mapped{
        {3.2, 0.2}, {1.0, 2.5}, {5.0, 2.0}, {0.5, 2.0}, {5.5, std::nullopt}, {0.2, std::nullopt}};
    for (const auto& [r, t] : mapped) {
        const auto got = model->shortTime(r);
        ASSERT_EQ(got.has_value(), t.has_value()) << r;
        if (t) {
            EXPECT_NEAR(*got, *t, 1e-9) << r;
        }
    }
    model->scrubShort(2.5);
    EXPECT_DOUBLE_EQ(model->recordingTime(), 1.0);
    dropCuts();
    EXPECT_EQ(model->locate(1), std::nullopt);
    EXPECT_EQ(model->recordingTime(), 0);
}

TEST_F(PlaybackTest, TheShortPlaysAsOneItemOverTheRecording)
{
    model->setMode(Mode::shortClip); // the playhead at 0 lies in no cut: the Short starts at 0
    EXPECT_EQ(model->mode(), Mode::shortClip);
    EXPECT_EQ(player().calls, (QStringList{"pause", "short " + recording + " 3-5 0.5-3.5", "seek 0"}));
    ASSERT_EQ(player().spans().size(), 2u);

    const std::vector<std::pair<double, double>> clamped{{99, 4.98}, {-3, 0}, {2.5, 2.5}};
    for (const auto& [asked, got] : clamped) {
        model->showShort(asked);
        EXPECT_DOUBLE_EQ(model->clock().time(), got) << asked;
        EXPECT_EQ(player().calls.last(), QStringLiteral("seek %1").arg(got));
    }
    player().play();
    model->showShort(1);
    EXPECT_EQ(player().calls.last(), "play");

    model->setMode(Mode::segment); // Short time 1 is recording time 4
    EXPECT_EQ(player().source(), recording);
    EXPECT_TRUE(player().spans().empty());
    EXPECT_DOUBLE_EQ(model->clock().time(), 4.0);

    model->clock().setTime(4.5); // in cut A
    model->setMode(Mode::shortClip);
    EXPECT_DOUBLE_EQ(model->clock().time(), 1.5);

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
    EXPECT_TRUE(player().playing);
    player().report(2.5); // the segment's end
    EXPECT_FALSE(player().playing);
    EXPECT_DOUBLE_EQ(model->clock().time(), 2.5);

    model->scrubbing = true;
    player().report(1.0);
    model->scrubbing = false;
    player().report(std::nan(""));
    EXPECT_DOUBLE_EQ(model->clock().time(), 2.5);

    model->scrubShort(0);
    player().play();
    player().report(2.6); // cut B at 1.1: segment 01
    EXPECT_EQ(model->selection(), "01");
    player().report(0.5); // cut A at 3.5: segment 02; playing on across it
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

    struct Step {
        Mode mode;
        std::optional<QString> selection;
        double from, by, to;
    };
    const std::vector<Step> steps{
        {Mode::shortClip, {}, 4.97, 1, 4.98}, {Mode::shortClip, {}, 1, -10, 0}, {Mode::segment, "02", 3.2, -1, 3},
        {Mode::segment, "02", 5.4, 1.0 / 30, 5.4 + 1.0 / 30}, {Mode::segment, {}, 5.5, 1, 6}, {Mode::segment, {}, 0.5, -1, 0}};
    for (const Step& s : steps) {
        if (s.mode == Mode::shortClip)
            model->scrubShort(0);
        else if (s.selection)
            model->show(*s.selection);
        else
            model->setSelection(std::nullopt);
        model->clock().setTime(s.from);
        model->step(s.by);
        EXPECT_DOUBLE_EQ(model->clock().time(), s.to) << s.from << " by " << s.by;
    }

    model->scrubShort(4.97);
    model->togglePlay(); // within 0.05 s of the Short's end: from the start
    EXPECT_EQ(player().calls.mid(player().calls.size() - 2), (QStringList{"seek 0", "play"}));

    const int before = player().calls.size();
    model->setVolume(model->volume());
    EXPECT_EQ(player().calls.mid(before), QStringList{"volume 1"});
}

TEST_F(PlaybackTest, MarksAndLineSelectionsMakeProperRanges)
{
    struct Mark {
        std::optional<TimeRange> range;
        double at;
        Edge edge;
        TimeRange made;
    };
    const std::vector<Mark> marks{
        {TimeRange{0.8, 2.0}, 1.0, Edge::end, {0.7, 1.0}}, // the start moves only as far as needed
        {std::nullopt, 2.4, Edge::start, {2.4, 2.7}}, // no range: the segment's bounds
        {std::nullopt, 1.0, Edge::end, {0, 1.0}},
        {TimeRange{0.5, 1.0}, 0.1, Edge::end, {0, 0.1}}, // never before the recording
    };
    for (const Mark& m : marks) {
        model->show("01");
        if (m.range) {
            model->clock().setTime(m.range->lower);
            model->mark(Edge::start);
            model->clock().setTime(m.range->upper);
            model->mark(Edge::end);
        }
        model->clock().setTime(m.at);
        model->mark(m.edge);
        ASSERT_TRUE(model->range());
        EXPECT_NEAR(model->range()->lower, m.made.lower, 1e-9) << m.at;
        EXPECT_NEAR(model->range()->upper, m.made.upper, 1e-9) << m.at;
        EXPECT_EQ(model->selectedLines(), std::nullopt);
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
    EXPECT_DOUBLE_EQ(model->clock().time(), 0.6);
    EXPECT_TRUE(player().playing);

    model->show("02"); // its second line starts before its first ends
    model->selectLine(0, false);
    model->selectLine(1, true);
    EXPECT_EQ(model->range(), (TimeRange{3.1, 5.2}));
}

} // namespace
