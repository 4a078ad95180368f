// Every Play is heard within 0.3 s: the sound is read back from the null sink's monitor,
// since a sound stream can be open, uncorked and silent.

#include "PlayingTesting.h"

#include "model/editing/StreamBrowser.h"

using namespace playing;

namespace {

TEST(SoundTest, EveryPlayIsHeard)
{
    NullSink output;
    if (!output.ready())
        GTEST_SKIP() << "no sound server to give an output";
    Monitor monitor;
    ASSERT_TRUE(monitor.running());
    const QString clip = numberedClip();
    ASSERT_FALSE(clip.isEmpty());
    auto* streamPlayer = Player::makeDefault().release();
    StreamBrowser browser{std::unique_ptr<Player>(streamPlayer)};
    std::unique_ptr<Player> main = Player::makeDefault();
    Watch watch(*main);
    Watch inWindow(*streamPlayer);
    // What comes before each Play, in the order a user might do it.
    const std::vector<std::pair<const char*, std::function<void()>>> table{
        {"the first Play after a recording is shown at a time",
         [&] {
             main->setSource(clip);
             main->seek(2.0);
             ASSERT_TRUE(watch.shows(60));
         }},
        {"a paused seek backwards", [&] { main->seek(1.0); ASSERT_TRUE(watch.shows(30)); }},
        {"a paused seek forwards", [&] { main->seek(5.0); ASSERT_TRUE(watch.shows(150)); }},
        {"a pause", [] {}},
        {"a Short shown", [&] {
             main->setShort(clip, {{4.0, 5.5}, {1.0, 2.5}});
             main->seek(0.2);
             ASSERT_TRUE(watch.shows(126));
         }},
        {"a seek in the Short", [&] { main->seek(1.7); ASSERT_TRUE(watch.shows(36)); }},
        {"the stream window shown at a time",
         [&] {
             main->setSource(std::nullopt);
             browser.load(clip, 10);
             browser.show(6.0, std::nullopt);
             ASSERT_TRUE(inWindow.shows(180));
         }},
        {"a seek in the stream window", [&] { browser.seek(3.0); ASSERT_TRUE(inWindow.shows(90)); }},
    };
    for (const auto& [before, prepare] : table) {
        prepare();
        settle(400);
        Player& player = main->source() ? *main : *streamPlayer;
        const qsizetype from = monitor.now();
        player.play();
        const auto heard = monitor.heard(from, 1.0);
        EXPECT_TRUE(heard && *heard < 0.3) << "after " << before << ": "
                                            << (heard ? "heard after " + std::to_string(*heard) + " s" : "never heard");
        player.pause();
        settle(200);
    }
}

} // namespace
