#include "platform/Prefs.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A stored flag reads as on or off only when it plainly says so; anything else, like a
// value another program wrote, leaves the default (automatic update checks stay on).
TEST(PrefsTest, AFlagThatIsNeitherOnNorOffKeepsItsDefault)
{
    QTemporaryDir folder;
    Prefs prefs(folder.filePath("prefs.ini"));
    const std::pair<QVariant, bool> table[] = {
        {QVariant(), true},           {QVariant(false), false},     {QVariant(true), true},
        {QVariant("false"), false},   {QVariant("0"), false},       {QVariant(0), false},
        {QVariant("maybe"), true},    {QVariant(""), true},         {QVariant(2.5), true},
        {QVariant("FALSE"), true},
    };
    for (const auto& [stored, on] : table) {
        if (stored.isValid())
            prefs.set("autoUpdate", stored);
        else
            prefs.remove("autoUpdate");
        EXPECT_EQ(prefs.autoUpdate(), on) << stored.toString().toStdString();
    }
    EXPECT_FALSE(prefs.clipNames()) << "a flag whose default is off stays off";
    prefs.set("clipNames", "maybe");
    EXPECT_FALSE(prefs.clipNames());
}

} // namespace
