// Short tabs (closing order, reopening, whether a Short was edited) and the margins of a
// segment split.

#include "model/editing/EditingTesting.h"

using namespace editing;

namespace {
using TabsTest = EditingTest;
using SegmentsTest = EditingTest;
} // namespace

TEST_F(TabsTest, ClosingTheActiveTabMovesToTheLeftmostOpenOne)
{
    openWith({spoken("01", 0, 30)}, {shortOf(100, {cut(1, 1, 3)}), shortOf(101, {cut(2, 5, 8)}), shortOf(102, {})});
    model->activate(uuid(102));
    EXPECT_EQ(model->mode(), Mode::segment);
    model->closeTab(uuid(102));
    EXPECT_EQ(model->activeShort(), uuid(100));
    EXPECT_EQ(model->mode(), Mode::shortClip) << "the mode names what the player shows";
    model->setSelectedCut(uuid(1));
    model->closeTab(uuid(101));
    EXPECT_EQ(model->selectedCut(), uuid(1)) << "closing another tab changes nothing else";
    model->closeTab(uuid(100));
    EXPECT_EQ(model->activeShort(), std::nullopt);
    EXPECT_EQ(model->mode(), Mode::segment);
    model->activate(uuid(101));
    EXPECT_EQ(readFile(package + "/project.json").count("\"closed\""), 2) << "a reopened tab loses its key";
    EXPECT_FALSE(model->canUndo());
}

TEST_F(TabsTest, AShortFromAnIdeaIsEditedUntilItsBoundsMatchAgain)
{
    openWith();
    model->openIdea(model->project().ideas[1]);
    const QUuid made = *model->activeShort(), first = model->cuts()[0].id;
    const auto edited = [&] { return model->isEdited(model->project().shorts.back()); };
    EXPECT_FALSE(edited());
    model->extend(first, Edge::end, 26);
    EXPECT_TRUE(edited());
    model->extend(first, Edge::end, 25);
    EXPECT_FALSE(edited());
    model->setSelectedCut(first);
    model->removeCut();
    EXPECT_TRUE(edited());
    model->undo();
    EXPECT_FALSE(edited());
    model->activate(uuid(100));
    model->openIdea(model->project().ideas[1]);
    EXPECT_EQ(model->project().shorts.size(), 3u);
    EXPECT_EQ(model->activeShort(), made);
}

TEST_F(SegmentsTest, SplittingKeepsFiveSecondsFromEitherEdge)
{
    for (const auto& [at, splits] : {std::pair{75.0, true}, {95.0, true}, {74.99, false}, {95.01, false}}) {
        openWith();
        model->setSelection("03");
        model->clock().setTime(at);
        model->splitSegment();
        EXPECT_EQ(model->toast(), splits ? "Split into 03 and 03a" : "Too close to an edge to split the segment");
        EXPECT_EQ(stored().segments.size(), splits ? 5u : 4u) << at;
        EXPECT_EQ(model->selection(), splits ? "03a" : "03");
    }
    model->activate(uuid(100));
    model->splitSegment();
    EXPECT_EQ(model->project().segments.size(), 4u) << "no split in Short mode";
}

// The small members: each row edits a fresh project (01 ends where 02 starts; Short 100
// has cuts 1 … 3, 5 … 8, 12 … 15, Short 101 one of 40 … 45) and reads back one value.
TEST_F(SegmentsTest, RateCorrectRenameAddRangeAndTheQueries)
{
    const auto nextAt = [](AppModel& m, double start) {
        Project p = m.project();
        p.segments[1].start = start;
        m.setProject(p);
        m.save();
    };
    const auto yes = [](bool b) { return QString(b ? "yes" : "no"); };
    const auto marked = [](AppModel& m) {
        m.clock().setTime(20), m.mark(Edge::start), m.clock().setTime(20.1), m.mark(Edge::end);
    };
    const auto rating = [this] {
        const auto r = stored().segments[0].rating;
        return r ? QString::number(*r) : QString("none");
    };
    const auto line = [this] { return stored().segments[0].lines->at(0).text; };
    const auto title = [this] { return stored().shorts[0].title; };
    const auto added = [](AppModel& m) {
        const auto list = m.cuts();
        const auto at = std::find_if(list.begin(), list.end(), [&](const Cut& c) { return c.id == m.selectedCut(); });
        return QString("%1 of %2, %3").arg(at - list.begin()).arg(list.size()).arg(m.toast().value_or(""));
    };
    const struct {
        const char* name;
        std::function<QString(AppModel&)> run;
        QString result;
        bool undoable = false;
    } rows[] = {
        {"favourite twice", [&](AppModel& m) { m.rate("01", 1), m.rate("01", 1); return rating(); }, "none"},
        {"rejected, favourite", [&](AppModel& m) { m.rate("01", -1), m.rate("01", 1); return rating(); }, "1"},
        {"rated, then none", [&](AppModel& m) { m.rate("01", -1), m.rate("01", {}); return rating(); }, "none"},
        {"touches at once", [&](AppModel& m) { return yes(m.touchesNext("01")); }, "yes"},
        {"0.04 s after", [&](AppModel& m) { nextAt(m, 30.04); return yes(m.touchesNext("01")); }, "yes"},
        {"0.06 s after", [&](AppModel& m) { nextAt(m, 30.06); return yes(m.touchesNext("01")); }, "no"},
        {"0.04 s before", [&](AppModel& m) { nextAt(m, 29.96); return yes(m.touchesNext("01")); }, "yes"},
        {"0.06 s before", [&](AppModel& m) { nextAt(m, 29.94); return yes(m.touchesNext("01")); }, "no"},
        {"the last", [&](AppModel& m) { return yes(m.touchesNext("03")); }, "no"},
        {"marker segments stay", [](AppModel& m) {
             m.removeSegment("01"), m.removeSegment("03");
             QStringList ids;
             for (const Segment& s : m.project().segments)
                 ids << s.id;
             return ids.join(' '); },
         "01 02 02a 03"},
        {"blank correction", [&](AppModel& m) { m.correct("01", 0, " \n\t\u2029"); return line(); }, "words"},
        {"trimmed correction", [&](AppModel& m) { m.correct("01", 0, "\u00a0\nfixed it \r\n"); return line(); },
         "fixed it"},
        {"line out of range", [&](AppModel& m) { m.correct("01", 1, "lost"); return line(); }, "words"},
        {"blank title", [&](AppModel& m) { m.rename(uuid(100), " \t\u00a0"); return title(); }, "Short 100"},
        {"title with blanks", [&](AppModel& m) { m.rename(uuid(100), " Best\n"); return title(); }, " Best\n"},
        {"title of a line break", [&](AppModel& m) { m.rename(uuid(100), "\n"); return title(); }, "\n"},
        {"touching both edges", [](AppModel& m) { return QString::number(m.shortsUsing(segment("x", 8, 12))); }, "0"},
        {"counted once", [](AppModel& m) { return QString::number(m.shortsUsing(segment("x", 2, 44))); }, "2"},
        {"closed counts",
         [](AppModel& m) { m.closeTab(uuid(101)); return QString::number(m.shortsUsing(segment("x", 44, 50))); },
         "1"},
        {"after the selected cut",
         [&](AppModel& m) { marked(m), m.setSelectedCut(uuid(2)), m.addRange(); return added(m); },
         "2 of 4, Added to Short 100", true},
        {"another Short's cut selected",
         [&](AppModel& m) { marked(m), m.setSelectedCut(uuid(4)), m.addRange(); return added(m); },
         "3 of 4, Added to Short 100", true},
        {"no active Short", [&](AppModel& m) {
             m.closeTab(uuid(100)), m.closeTab(uuid(101)), marked(m), m.addRange(); return added(m); },
         "0 of 1, Added to Untitled Short", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        openWith();
        EXPECT_EQ(row.run(*model), row.result);
        EXPECT_EQ(model->canUndo(), row.undoable);
        EXPECT_EQ(stored().shorts, model->project().shorts);
        EXPECT_EQ(stored().segments, model->project().segments);
    }
}
