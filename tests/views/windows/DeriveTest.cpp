// The tool windows' texts and rules.

#include "views/windows/Derive.h"

#include <QStringList>
#include <gtest/gtest.h>

TEST(ExportTexts, LengthCountsCutsInTheSingularOnlyForOne)
{
    EXPECT_EQ(exportLength(75.25, 1), QStringLiteral("1:15.2 · 1 cut"));
    EXPECT_EQ(exportLength(0, 0), QStringLiteral("0:00.0 · 0 cuts"));
    EXPECT_EQ(exportLength(42, 3), QStringLiteral("0:42.0 · 3 cuts"));
}

TEST(ExportTexts, DefaultNameIsSafeForEveryFolder)
{
    const struct {
        std::optional<QString> video;
        std::optional<QString> title;
        QString name;
    } cases[] = {
        {QStringLiteral("/rec/short.mp4"), QStringLiteral("Moon"), QStringLiteral("short.mp4 Moon")},
        {QStringLiteral("/rec/Stream 12 final.mp4"), QStringLiteral("Moon"), QStringLiteral("Stream 12  Moon")},
        {std::nullopt, std::nullopt, QStringLiteral(" Short")},
        {QStringLiteral("/rec/a.mp4"), QStringLiteral("a/b: c"), QStringLiteral("a.mp4 a-b c")},
        {QStringLiteral("/rec/a.mp4"), QStringLiteral("one\ntwo\r\u2028three\tfour\u0007"), QStringLiteral("a.mp4 onetwothreefour")},
        // Ten characters as a user sees them, not ten code units.
        {QStringLiteral("/rec/👍🏽e\u0301abcdefghij.mp4"), QStringLiteral("x"), QStringLiteral("👍🏽e\u0301abcdefgh x")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(exportName(c.video, c.title), c.name) << c.name.toStdString();
}

TEST(ToolTexts, RowTitlesKeepToOneLine)
{
    EXPECT_EQ(oneLine("one\ntwo\r\nthree\tfour\u2028five\u0085six\u0007"), "one two  three four five six ");
    EXPECT_EQ(oneLine("👍🏽e\u0301\u200d"), "👍🏽e\u0301\u200d") << "marks and joiners are no control characters";
}

TEST(AskTexts, ListedSegmentsHaveATranscriptAndAreNotRejected)
{
    Project p;
    const auto make = [](const QString& id, bool lines, std::optional<qint64> rating) {
        Segment s;
        s.id = id;
        if (lines)
            s.lines = std::vector<Line>{};
        s.rating = rating;
        return s;
    };
    p.segments = {make("01", true, std::nullopt), make("02", false, std::nullopt), make("03", true, -1),
                  make("04", true, 1), make("05", true, 0)};
    QStringList ids;
    for (const Segment* s : listedSegments(p))
        ids << s->id;
    EXPECT_EQ(ids, QStringList({"01", "04", "05"}));
}

TEST(AskTexts, ListHeightCountAndCreate)
{
    for (const auto& [n, height] : std::vector<std::pair<int, int>>{{0, 4}, {1, 32}, {9, 256}, {10, 280}, {50, 280}})
        EXPECT_EQ(askListHeight(n), height) << n;
    EXPECT_EQ(includeCount({}), QStringLiteral("none"));
    EXPECT_EQ(includeCount({"01", "07"}), QStringLiteral("2"));
    const struct {
        QString text;
        bool composing;
        bool can;
    } cases[] = {
        {"", false, false}, {" \t ", false, false}, {"\n", false, true},
        {" moon ", false, true}, {"moon", true, false}, {"\u00a0", false, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(canCreate(c.text, c.composing), c.can) << c.text.toStdString();
}

namespace {

Job jobOf(const QString& kind, const QString& state, std::optional<double> took = std::nullopt,
          std::optional<double> cost = std::nullopt)
{
    Job j;
    j.id = QUuid::createUuid();
    j.kind = kind;
    j.state = state;
    j.started = 1000;
    if (took)
        j.ended = 1000 + *took;
    j.cost = cost;
    return j;
}

} // namespace

TEST(ActivityTexts, Money)
{
    for (const auto& [dollars, text] : std::vector<std::pair<double, QString>>{
             {0, "0.0¢"}, {0.0123, "1.2¢"}, {0.0999, "10.0¢"}, {0.1, "$0.10"}, {0.25, "$0.25"}, {12.345, "$12.35"}})
        EXPECT_EQ(money(dollars), text) << dollars;
    EXPECT_EQ(activityFooter(0, 0), QStringLiteral("Nothing has run yet"));
    EXPECT_EQ(activityFooter(1, 0), QStringLiteral("1 entries · 0.0¢ spent"));
    EXPECT_EQ(activityFooter(14, 0.032), QStringLiteral("14 entries · 3.2¢ spent"));
}

TEST(ActivityTexts, SummaryLines)
{
    const struct {
        Job job;
        QString line;
    } cases[] = {
        {jobOf("ask", "running"), "T · running"},
        {jobOf("ask", "done", 59.6, 0.0123), "T · 60 s · 1.2¢"},
        {jobOf("export", "failed", 75.25), "T · failed · 1:15.2"},
        {jobOf("note", "note", 3), "T"},
        {jobOf("transcribe", "interrupted", 0), "T · interrupted · 0 s"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(jobLine(c.job, "T"), c.line) << c.line.toStdString();
}

TEST(ActivityTexts, MarkPrecedence)
{
    using C = Mark::Colour;
    EXPECT_EQ(mark(jobOf("export", "running")), Mark{});
    EXPECT_EQ(mark(jobOf("export", "failed")), (Mark{"exclamationmark.circle.fill", C::red}));
    EXPECT_EQ(mark(jobOf("transcribe", "cancelled")), (Mark{"stop.circle", C::secondary}));
    EXPECT_EQ(mark(jobOf("ask", "interrupted")), (Mark{"stop.circle", C::secondary}));
    EXPECT_EQ(mark(jobOf("note", "note")), (Mark{"pencil", C::secondary}));
    EXPECT_EQ(mark(jobOf("transcribe", "done")), (Mark{"waveform", C::accent}));
    EXPECT_EQ(mark(jobOf("export", "done")), (Mark{"square.and.arrow.up", C::accent}));
    EXPECT_EQ(mark(jobOf("ideas", "whatever")), (Mark{"sparkles", C::accent}));
}

TEST(ActivityTexts, ClippedAtSixThousandCharactersAsSeen)
{
    const QString thumb = QStringLiteral("👍🏽"); // four code units, one character
    const QString accented = QStringLiteral("e\u0301");
    const QString exact = thumb.repeated(3000) + accented.repeated(3000);
    EXPECT_EQ(clipped(exact), exact);
    EXPECT_EQ(clipped(exact + accented),
              exact + QStringLiteral("\n… (1 more characters; Copy takes everything)"));
    EXPECT_EQ(clipped(exact + thumb + thumb + u'x'), exact + QStringLiteral("\n… (3 more characters; Copy takes everything)"));
    EXPECT_EQ(clipped(QString(6000, u'a')), QString(6000, u'a'));
}

TEST(ActivityTexts, ShownJobAndHeaderButton)
{
    std::vector<Job> jobs{jobOf("ask", "done"), jobOf("export", "done")};
    EXPECT_EQ(shownJob({}, std::nullopt), std::nullopt);
    EXPECT_EQ(shownJob(jobs, std::nullopt), 0u);
    EXPECT_EQ(shownJob(jobs, jobs[1].id), 1u);
    EXPECT_EQ(shownJob(jobs, QUuid::createUuid()), 0u) << "a chosen job that left falls back to the newest";

    Job again = jobOf("ideas", "done");
    again.rerun = Rerun{Rerun::Ideas{}};
    const struct {
        Job job;
        bool stoppable;
        HeaderButton button;
    } cases[] = {
        {jobOf("transcribe", "running"), true, HeaderButton::stop},
        {jobOf("ask", "running"), false, HeaderButton::none}, // no token of its own, or it fired already
        {jobOf("export", "running"), true, HeaderButton::stop},
        {again, false, HeaderButton::runAgain},
        {again, true, HeaderButton::runAgain},
        {jobOf("ask", "failed"), true, HeaderButton::none},
        {jobOf("note", "note"), false, HeaderButton::none},
    };
    for (const auto& c : cases)
        EXPECT_EQ(headerButton(c.job, c.stoppable), c.button) << c.job.kind.toStdString() << ' ' << c.job.state.toStdString();
}
