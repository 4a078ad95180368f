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
