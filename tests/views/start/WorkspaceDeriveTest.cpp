// What the set-up sheet and the workspace show, worked out from the model's values.

#include "support/Segments.h"
#include "views/start/Derive.h"
#include "views/start/Rows.h"

#include <gtest/gtest.h>
#include <cmath>

namespace {

Cut cut(double start, double end)
{
    return {QUuid::createUuid(), start, end, {}};
}

} // namespace

TEST(SetupPreview, CountsSegmentsMinutesAndNamesThePackage)
{
    const QString pkg = QStringLiteral("Stream 12.vtrl");
    const struct {
        std::vector<double> marks;
        double before, after, length;
        bool file;
        int segments;
        qint64 minutes;
        bool canOpen;
    } cases[] = {
        // Overlapping windows merge: 850-1160 is 310 s, 5 minutes.
        {{1000, 1100}, 150, 60, 3600, true, 1, 5, true},
        {{1000}, 45, 45, 3600, true, 1, 2, true},   // 90 s: halves away from zero
        {{1000}, 45, 44, 3600, true, 1, 1, true},   // 89 s
        {{1000}, 15, 14, 3600, true, 1, 0, true},   // 29 s
        {{3800}, 150, 60, 3600, true, 0, 0, true},  // past the end: nothing
        {{1000, 1100}, 150, 60, 0, true, 0, 0, true}, // duration not known yet
        {{}, 150, 60, 3600, true, 0, 0, false},     // a file without markers
        {{}, 150, 60, 3600, false, 0, 0, false},    // no file
    };
    for (const auto& c : cases) {
        const SetupPreview p = setupPreview(c.marks, c.before, c.after, c.length, c.file, pkg);
        EXPECT_EQ(p.segments, c.segments) << c.marks.size() << ' ' << c.length;
        EXPECT_EQ(p.minutes, c.minutes) << c.before << '+' << c.after;
        EXPECT_EQ(p.canOpen, c.canOpen);
    }
    EXPECT_EQ(setupPreview({1000, 1100}, 150, 60, 3600, true, pkg).sentence,
              QStringLiteral("2 markers become 1 segments, about 5 minutes to transcribe. The recording is not cut or "
                             "copied; your work is saved beside it as Stream 12.vtrl."));
    // Where the work cannot be saved, the sheet says so and does not open.
    const SetupPreview unsaved = setupPreview({1000}, 150, 60, 3600, true, pkg, QStringLiteral("It cannot be saved."));
    EXPECT_EQ(unsaved.sentence, QStringLiteral("1 markers become 1 segments, about 4 minutes to transcribe. It cannot be saved."));
    EXPECT_FALSE(unsaved.canOpen);
}

TEST(SetupPreview, StepperLabelsAndEngine)
{
    EXPECT_EQ(stepperLabel(150), QStringLiteral("2:30"));
    EXPECT_EQ(stepperLabel(60), QStringLiteral("1:00"));
    EXPECT_EQ(stepperLabel(15), QStringLiteral("0:15"));
    EXPECT_EQ(stepperLabel(600), QStringLiteral("10:00"));
    EXPECT_TRUE(setupHelp(QStringLiteral("scribe")).startsWith(QStringLiteral("Transcribing runs through ElevenLabs and")));
    EXPECT_TRUE(setupHelp(QStringLiteral("whisper")).startsWith(QStringLiteral("Transcribing runs on this computer and")));
    EXPECT_TRUE(setupHelp({}).startsWith(QStringLiteral("Transcribing runs on this computer and")));
}

TEST(KeyMap, DecidesOverKeyModifiersAndContext)
{
    const KeyContext free;
    const auto ctx = [](bool KeyContext::*flag) {
        KeyContext c;
        c.*flag = true;
        return c;
    };
    const auto none = Qt::NoModifier;
    const struct {
        int key;
        Qt::KeyboardModifiers mods;
        const char* text;
        KeyContext context;
        KeyAction action;
    } cases[] = {
        {Qt::Key_Space, none, " ", free, KeyAction::togglePlay},
        {Qt::Key_Backspace, none, "", free, KeyAction::remove},
        {Qt::Key_Delete, none, "", free, KeyAction::remove},
        {Qt::Key_Escape, none, "", free, KeyAction::escape},
        {Qt::Key_Left, none, "", free, KeyAction::stepBack},
        {Qt::Key_Left, Qt::ShiftModifier, "", free, KeyAction::bigStepBack},
        {Qt::Key_Right, Qt::AltModifier, "", free, KeyAction::stepForward},
        {Qt::Key_Right, Qt::ShiftModifier, "", free, KeyAction::bigStepForward},
        {Qt::Key_I, none, "i", free, KeyAction::markStart},
        {Qt::Key_I, Qt::ShiftModifier, "I", free, KeyAction::markStart},
        {Qt::Key_O, Qt::AltModifier, "ø", free, KeyAction::markEnd},
        {Qt::Key_A, none, "a", free, KeyAction::addRange},
        {Qt::Key_B, none, "b", free, KeyAction::split},
        {Qt::Key_F, none, "f", free, KeyAction::favourite},
        {Qt::Key_U, none, "u", free, KeyAction::unrate},
        {Qt::Key_X, none, "x", free, KeyAction::pass},
        {Qt::Key_F5, none, "", free, KeyAction::pass},
        // Ctrl goes to the menus; a busy context lets every key through.
        {Qt::Key_Z, Qt::ControlModifier, "\x1a", free, KeyAction::pass},
        {Qt::Key_Space, Qt::ControlModifier, " ", free, KeyAction::pass},
        {Qt::Key_Space, none, " ", ctx(&KeyContext::streamKey), KeyAction::pass},
        {Qt::Key_Left, none, "", ctx(&KeyContext::noWindow), KeyAction::pass},
        {Qt::Key_A, none, "a", ctx(&KeyContext::modal), KeyAction::pass},
        {Qt::Key_Backspace, none, "", ctx(&KeyContext::textFocus), KeyAction::pass},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decideKey(c.key, c.mods, QString::fromUtf8(c.text), c.context), c.action) << c.key << ' ' << c.text;
}

TEST(SplitConfirmation, TitleAndMessage)
{
    Project p;
    p.segments = {segment("06", 100, 400)};
    EXPECT_EQ(splitTitle(QStringLiteral("06"), 3723), QStringLiteral("Split segment 06 at 1:02:03?"));
    EXPECT_EQ(splitTitle(std::nullopt, 0), QStringLiteral("Split segment  at 0:00:00?"));
    EXPECT_EQ(splitMessage(p, QStringLiteral("06"), 130),
              QStringLiteral("It becomes two segments, 0:30.0 and 4:30.0 long, which you can keep or reject separately. "
                             "Their summary is dropped; ask for new ones when you want them. Join puts them back."));
    EXPECT_TRUE(splitMessage(p, QStringLiteral("06"), 50).startsWith(QStringLiteral("It becomes two segments, 0:00.0 and 5:50.0")));
    EXPECT_TRUE(splitMessage(p, QStringLiteral("07"), 130).isEmpty());
    EXPECT_TRUE(splitMessage(p, std::nullopt, 130).isEmpty());
}

TEST(WindowSize, RestoredOnlyWhenLargeEnoughAndKeptOnTheScreen)
{
    const QRect at(100, 50, 1180, 720);
    const QRect screen(0, 0, 1920, 1050);
    const struct {
        std::optional<double> w, h;
        std::optional<QRect> screen;
        std::optional<QRect> expected;
    } cases[] = {
        {std::nullopt, std::nullopt, screen, std::nullopt},
        {1179, 900, screen, std::nullopt},
        {1400, 719, screen, std::nullopt},
        {NAN, 800, screen, std::nullopt},
        {1180, 720, screen, QRect(100, 50, 1180, 720)},
        // Past the right edge: moved left to end at it; past the bottom: moved up.
        {1900, 1000, screen, QRect(20, 50, 1900, 1000)},
        {1300, 1040, screen, QRect(100, 10, 1300, 1040)},
        // Larger than the screen: the screen's size, at its left edge.
        {2500, 1200, screen, QRect(0, 0, 1920, 1050)},
        // Without a screen nothing is clamped.
        {2500, 1200, std::nullopt, QRect(100, 50, 2500, 1200)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(restoredGeometry(c.w, c.h, at, c.screen), c.expected) << c.w.value_or(-1) << 'x' << c.h.value_or(-1);
}

TEST(StreamMap, BlocksAndClicks)
{
    Project p;
    p.duration = 1000;
    p.segments = {segment("01", 100, 300), segment("02", 500, 501), segment("03", 600, 700), segment("04", 800, 900)};
    p.segments[1].rating = 1;
    p.segments[2].rating = -1;
    p.segments[3].rating = 1;
    const std::vector<MapBlock> blocks = mapBlocks(p, QStringLiteral("03"), 200);
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0], (MapBlock{20, 40, Fill::plain, 1}));
    EXPECT_EQ(blocks[1], (MapBlock{100, 3, Fill::favourite, 1})); // never thinner than 3
    EXPECT_EQ(blocks[2], (MapBlock{120, 20, Fill::accent, 0.3})); // selected and rejected
    EXPECT_EQ(blocks[3].fill, Fill::favourite);
    EXPECT_DOUBLE_EQ(mapTime(p, 50, 200), 250);
    EXPECT_DOUBLE_EQ(mapTime(p, -5, 200), 0);
    EXPECT_DOUBLE_EQ(mapTime(p, 500, 200), 1000);
    EXPECT_DOUBLE_EQ(mapTime(p, 0, 0), 0); // not a number counts as 0
    p.duration = 0;
    EXPECT_DOUBLE_EQ(mapTime(p, 200, 200), 1); // spread over one second at least
    EXPECT_DOUBLE_EQ(mapBlocks(p, {}, 200)[0].x, 20000);
}

TEST(SidebarTexts, NoticesEmptyStatesAndTheConfirmation)
{
    EXPECT_EQ(transcribeNotice(1), QStringLiteral("1 segment is not transcribed"));
    EXPECT_EQ(transcribeNotice(4), QStringLiteral("4 segments are not transcribed"));
    EXPECT_EQ(summaryNotice(1), QStringLiteral("1 segment has no summary"));
    EXPECT_EQ(summaryNotice(3), QStringLiteral("3 segments have no summary"));
    EXPECT_EQ(lookAgainMessage(0.12, 3), QStringLiteral("AI reads the whole stream again, about 12¢. The 3 ideas you have "
                                                        "not opened will be replaced. Your Shorts are not touched."));
    EXPECT_EQ(lookAgainMessage(std::nullopt, 1),
              QStringLiteral("AI reads the whole stream again, which costs about as much as the first time. The 1 idea "
                             "you have not opened will be replaced. Your Shorts are not touched."));

    Project p;
    EXPECT_EQ(ideasEmptyText(p), QStringLiteral("None yet. The sparkle button above can look for some."));
    p.ideated = false;
    EXPECT_EQ(ideasEmptyText(p), QStringLiteral("None yet. The sparkle button above can look for some."));
    p.ideated = true;
    EXPECT_EQ(ideasEmptyText(p), QStringLiteral("AI found nothing it would post from this stream."));
    p.ideas = {Idea{QUuid::createUuid(), {}, {}, {}, {}, {}}};
    EXPECT_EQ(ideasEmptyText(p), QStringLiteral("Every idea is already one of your Shorts."));
    EXPECT_EQ(hideRejectedTitle(0), QStringLiteral("Hide rejected"));
    EXPECT_EQ(hideRejectedTitle(3), QStringLiteral("Hide rejected (3)"));
    p.duration = 6127;
    p.markerCount = 23;
    EXPECT_EQ(streamLine(p), QStringLiteral("1:42:07 · 23 markers"));
}

TEST(SidebarLists, FilterAndUnopenedIdeas)
{
    Project p;
    p.segments = {segment("01", 0, 1), segment("02", 1, 2), segment("03", 2, 3)};
    p.segments[0].rating = 1;
    p.segments[1].rating = -1;
    const auto ids = [&](int filter) {
        QStringList out;
        for (const Segment* s : listedSegments(p, filter))
            out << s->id;
        return out.join(u',');
    };
    EXPECT_EQ(ids(0), QStringLiteral("01,02,03"));
    EXPECT_EQ(ids(1), QStringLiteral("01"));
    EXPECT_EQ(ids(2), QStringLiteral("01,03"));
    EXPECT_EQ(ids(7), QStringLiteral("01,03"));
    EXPECT_EQ(rejectedCount(p), 1);

    const Idea a{QUuid::createUuid(), QStringLiteral("a"), {}, {}, {}, {}};
    const Idea b{QUuid::createUuid(), QStringLiteral("b"), {}, {}, {}, {}};
    p.ideas = {a, b};
    // A closed Short still holds its idea.
    p.shorts = {Short{QUuid::createUuid(), {}, a.id, {}, true}};
    const std::vector<Idea> left = unopenedIdeas(p);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].title, QStringLiteral("b"));
}

TEST(Rows, StatesAndInfoTexts)
{
    Segment s = segment("06a", 100, 1000);
    EXPECT_EQ(rowState(s), RowState::working);
    s.waiting = true;
    EXPECT_EQ(rowState(s), RowState::transcribe);
    s.error = QString();
    EXPECT_EQ(rowState(s), RowState::retry); // a failure wins, whatever its text
    s.error.reset();
    s.waiting.reset();
    s.lines = std::vector<Line>{};
    EXPECT_EQ(rowState(s), RowState::vibe);
    EXPECT_EQ(vibeText(s), QString());
    s.energy = QStringLiteral("hype");
    s.kind = QStringLiteral("clutch");
    EXPECT_EQ(vibeText(s), QStringLiteral("hype · clutch"));
    EXPECT_EQ(segmentTitle(s), QStringLiteral("Segment 06a"));
    EXPECT_EQ(transcribeTip(s), QStringLiteral("This one is 15:00.0 long, so it was not transcribed without asking"));
    // A tooltip shows the model's text as written, never as markup.
    EXPECT_EQ(plainTip(QStringLiteral("<b>x</b> & y")), QStringLiteral("<qt>&lt;b&gt;x&lt;/b&gt; &amp; y</qt>"));
    EXPECT_EQ(plainTip(QString()), QString());
    EXPECT_EQ(usedText(0), QString());
    EXPECT_EQ(usedText(1), QStringLiteral("in 1 Short"));
    EXPECT_EQ(usedText(2), QStringLiteral("in 2 Shorts"));
    EXPECT_EQ(vibeColour(QStringLiteral("Hype")), vibeColour(QStringLiteral("calm")));
    EXPECT_NE(vibeColour(QStringLiteral("hype")), vibeColour(QStringLiteral("calm")));

    // A cut that only touches an edge does not mark the segment.
    EXPECT_FALSE(markedByCut(s, {cut(50, 100), cut(1000, 1200)}));
    EXPECT_TRUE(markedByCut(s, {cut(50, 100.01)}));

    Short clip{QUuid::createUuid(), QStringLiteral("x"), std::nullopt, {}, std::nullopt};
    EXPECT_EQ(shortInfo(clip), (ShortInfo{QStringLiteral("empty"), false}));
    clip.cuts = {cut(0, 60)};
    EXPECT_EQ(shortInfo(clip), (ShortInfo{QStringLiteral("1:00.0 · 1 cut"), false}));
    clip.cuts = {cut(0, 30), cut(40, 70.1)};
    EXPECT_EQ(shortInfo(clip), (ShortInfo{QStringLiteral("1:00.1 · 2 cuts"), true}));
    EXPECT_EQ(revertTitle(clip), QStringLiteral("Revert “x” to AI's cut?"));
    const Idea one{QUuid::createUuid(), {}, {}, {}, {}, {cut(0, 1)}};
    EXPECT_EQ(revertMessage(one), QStringLiteral("Your trims, reordering and added cuts in this Short will be replaced "
                                                 "by the 1 cuts AI proposed. You can undo this."));
    EXPECT_TRUE(revertMessage(std::nullopt).contains(QStringLiteral("by the 0 cuts")));
}

TEST(Rows, ContextMenus)
{
    const auto titles = [](const std::vector<MenuEntry>& entries) {
        QStringList out;
        for (const MenuEntry& e : entries)
            out << (e.title.isEmpty() ? QStringLiteral("-") : e.title + (e.destructive ? QStringLiteral("!") : QString()));
        return out.join(u'|');
    };
    Segment s = segment("01", 0, 10);
    EXPECT_EQ(titles(segmentMenu(s, false)), QStringLiteral("Favourite|Reject|-|Transcribe Again"));
    s.rating = 1;
    s.manual = false;
    EXPECT_EQ(titles(segmentMenu(s, true)),
              QStringLiteral("Not a Favourite|Reject|-|Transcribe Again|Join With the Next Segment"));
    s.rating = -1;
    s.manual = true;
    EXPECT_EQ(titles(segmentMenu(s, false)), QStringLiteral("Favourite|Not Rejected|-|Transcribe Again|-|Remove Segment!"));
    EXPECT_EQ(segmentMenu(s, false)[3].sub,
              (std::vector<QString>{QStringLiteral("With whisper, on this computer"), QStringLiteral("With ElevenLabs Scribe")}));

    EXPECT_EQ(titles(shortMenu(false, true)), QStringLiteral("Rename…|Duplicate|-|Delete Short!"));
    EXPECT_EQ(titles(shortMenu(true, false)), QStringLiteral("Rename…|Duplicate|-|Delete Short!"));
    EXPECT_EQ(titles(shortMenu(true, true)), QStringLiteral("Rename…|Duplicate|Revert to AI's Cut…|-|Delete Short!"));
}

TEST(IdeaCard, BarsAndFooter)
{
    Idea idea;
    EXPECT_TRUE(barWidths(idea, 100).empty());
    EXPECT_EQ(ideaFooter(idea), QStringLiteral("0:00.0 · 0 cuts"));
    idea.cuts = {cut(0, 30)};
    EXPECT_EQ(ideaFooter(idea), QStringLiteral("0:30.0 · 1 cut"));
    EXPECT_EQ(barWidths(idea, 100), (std::vector<double>{100}));
    // Two gaps of 2 points; a very short cut stays 2 points wide.
    idea.cuts = {cut(0, 30), cut(40, 40.01), cut(50, 80)};
    const std::vector<double> w = barWidths(idea, 104);
    ASSERT_EQ(w.size(), 3u);
    EXPECT_NEAR(w[0], 100 * 30 / 60.01, 1e-9);
    EXPECT_EQ(w[1], 2);
    EXPECT_EQ(ideaFooter(idea), QStringLiteral("1:00.0 · 3 cuts"));
    // Under a tenth of a second in all: divided by 0.1, so the bars stay finite.
    idea.cuts = {cut(0, 0.02), cut(1, 1.03)};
    for (double x : barWidths(idea, 102))
        EXPECT_TRUE(std::isfinite(x));
    EXPECT_NEAR(barWidths(idea, 102)[1], 30, 1e-9);
}

TEST(Vibe, TakesNoRoomWithoutAnEnergy)
{
    Vibe chip;
    Segment s = segment("01", 0, 10);
    chip.setSegment(s);
    EXPECT_TRUE(chip.isHidden());
    EXPECT_EQ(chip.sizeHint().width(), 0);
    s.energy = QStringLiteral("panic");
    s.kind = QStringLiteral("scare");
    chip.setSegment(s);
    EXPECT_FALSE(chip.isHidden());
    EXPECT_GT(chip.sizeHint().width(), 11);
}
