#include "ModelTesting.h"

#include "core/project/Text.h"

#include <gtest/gtest.h>
#include <limits>

TEST(TextTest, DecimalReadsPlainNotationOnly)
{
    const std::pair<const char*, double> good[] = {
        {"150", 150}, {"-1.5", -1.5}, {"+2", 2}, {".5", 0.5}, {"5.", 5},
        {"1e3", 1000}, {"1.5E+1", 15}, {"2e-1", 0.2}, {"007", 7},
    };
    for (const auto& [text, value] : good)
        EXPECT_EQ(Text::decimal(QString(text)), std::optional<double>(value)) << text;

    for (const char* text : {"", " ", " 1", "1 ", "\t1", "inf", "-inf", "nan", "NaN", "Infinity", "0x10", "0x1p3",
                             "1e999", "-1e999", "e5", ".", "+", "-", "+-1", "1e", "1e+", "1.2.3", "1,5", "1_000",
                             "١٢", "１２", "12abc"})
        EXPECT_EQ(Text::decimal(QString(text)), std::nullopt) << text;

    EXPECT_EQ(Text::integer(u"-9223372036854775808"), std::optional<qint64>(std::numeric_limits<qint64>::min()));
    EXPECT_EQ(Text::integer(u"+42"), std::optional<qint64>(42));
    for (const char* text : {"9223372036854775808", "", "+", "++1", "1.0", " 1", "1e3", "٣"})
        EXPECT_EQ(Text::integer(QString(text)), std::nullopt) << text;
}

TEST(TextTest, NumbersAreShortestRoundTrip)
{
    EXPECT_EQ(Text::number(150), "150");
    EXPECT_EQ(Text::number(0.1), "0.1");
    EXPECT_EQ(Text::number(-2.5), "-2.5");
    EXPECT_EQ(Text::number(1e21), "1000000000000000000000");
    EXPECT_EQ(Text::number(100000), "100000");
    EXPECT_EQ(Text::number(0.0001), "0.0001");
    EXPECT_EQ(Text::number(5e-324).size(), 2 + 323 + 1);
    EXPECT_EQ(Text::number(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(Text::numberWithPoint(150), "150.0");
    EXPECT_EQ(Text::numberWithPoint(0.25), "0.25");
    EXPECT_EQ(Text::numberWithPoint(1e21), "1000000000000000000000.0");
    EXPECT_EQ(Text::numberWithPoint(100000), "100000.0");
    EXPECT_EQ(Text::numberWithPoint(0.0001), "0.0001");
    for (double v : {0.1, 62.5, 3600.123456789, 1e-7, 1.7976931348623157e308, 5e-324})
        EXPECT_EQ(Text::decimal(Text::number(v)), std::optional<double>(v)) << v;
}

TEST(TextTest, LinesTakeCarriageReturnLineFeedAsOneBreak)
{
    EXPECT_EQ(Text::lines(u"a\r\r\nb\n\rc\n"), QStringList({"a", "", "b", "", "c", ""}));
    EXPECT_EQ(Text::lines(u""), QStringList({""}));
}

TEST(TextTest, GraphemesAreWhatTheUserSees)
{
    EXPECT_EQ(Text::graphemes(u""), 0);
    EXPECT_EQ(Text::graphemes(QString::fromUtf8("e\u0301")), 1);                  // e + combining acute
    EXPECT_EQ(Text::graphemes(QString::fromUtf8("กี")), 1);                        // Thai consonant + vowel mark
    EXPECT_EQ(Text::graphemes(QString::fromUtf8("👍🏽")), 1);                       // emoji + skin tone
    EXPECT_EQ(Text::graphemes(QString::fromUtf8("🇩🇪🇫🇷")), 2);                     // two flags
    EXPECT_EQ(Text::graphemes(QString::fromUtf8("👩\u200d👩\u200d👧 ok")), 4); // family, blank, o, k
    EXPECT_EQ(Text::graphemes(u"a\r\nb"), 3);

    const QString thai = QString::fromUtf8("กี12345678X stream");
    EXPECT_EQ(Text::firstGraphemes(thai, 10), QString::fromUtf8("กี12345678X"));
    EXPECT_EQ(Text::firstGraphemes("abc", 10), "abc");
    EXPECT_EQ(Text::firstGraphemes("abc", 0), "");

    EXPECT_TRUE(Text::hasPrefix(thai, QString::fromUtf8("กี1")));
    EXPECT_FALSE(Text::hasPrefix(thai, QString::fromUtf8("ก")));  // would split a character
    EXPECT_FALSE(Text::hasPrefix(QString::fromUtf8("👍🏽 x"), QString::fromUtf8("👍")));
    EXPECT_TRUE(Text::hasPrefix("abc", ""));
    EXPECT_FALSE(Text::hasPrefix("ab", "abc"));
}
