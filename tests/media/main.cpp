#include <QGuiApplication>
#include <QTemporaryDir>
#include <clocale>
#include <gtest/gtest.h>

// The real player needs a GUI application (its picture goes to a video sink); it runs on
// the offscreen platform, so no display is needed.
int main(int argc, char** argv)
{
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
