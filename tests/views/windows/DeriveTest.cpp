// The tool windows' texts and rules.

#include "views/windows/Derive.h"

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
