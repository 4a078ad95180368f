#include "support/Sound.h"

#include <QGuiApplication>
#include <QTemporaryDir>
#include <clocale>
#include <cstdio>
#include <gtest/gtest.h>

// The real player needs a GUI application (its picture goes to a video sink); it runs on
// the offscreen platform, so no display is needed. Sound goes nowhere: the players must
// show the picture all the same.
int main(int argc, char** argv)
{
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    // Before any player looks for sound outputs.
    QTemporaryDir sound;
    sound::SoundlessServer server(sound.path());
    ::testing::InitGoogleTest(&argc, argv);
    if (!server.running())
        std::printf("No sound server to start: the players meet no sound output at all.\n");
    return RUN_ALL_TESTS();
}
