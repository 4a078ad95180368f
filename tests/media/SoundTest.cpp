// Every Play is heard: the sound is read back from the null sink's monitor, since a sound
// stream can be open, uncorked and silent. A stale sound branch plays nothing at all, or
// seconds late; how soon a healthy one is heard is a figure of the playback benchmark, as a
// busy machine stretches it.

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
    // As a recording with key frames 8 s apart, so that a seek decodes for a while.
    const QString sparse = sharedClip(QStringLiteral("sound-sparse.mp4"), [](const QString& p) {
        return Clips::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30:duration=20", "-f", "lavfi", "-i",
                              "sine=frequency=440:sample_rate=48000:duration=20", "-c:v", "libx264", "-preset",
                              "veryfast", "-g", "240", "-keyint_min", "240", "-sc_threshold", "0", "-pix_fmt",
                              "yuv420p", "-c:a", "aac", "-shortest", p})
            ? p
            : QString();
    });
    ASSERT_FALSE(sparse.isEmpty());
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
        {"a recording with key frames 8 s apart shown at a time",
         [&] {
             browser.load(std::nullopt, 1);
             main->setSource(sparse);
             main->seek(7.5);
             settle(1500);
         }},
        {"a paused seek far from a key frame", [&] { main->seek(15.9); settle(1500); }},
    };
    for (std::size_t row = 0; row < table.size(); ++row) {
        const auto& [before, prepare] = table[row];
        prepare();
        settle(400);
        Player& player = main->source() ? *main : *streamPlayer;
        const qsizetype from = monitor.now();
        player.play();
        // Listening for a while, as a user who pressed Play waits to hear something: on a
        // recording with key frames 8 s apart the picture is decoded again from its key frame
        // first, which took 2-3 s beside other work.
        const auto heard = monitor.heard(from, 10.0);
        EXPECT_TRUE(heard.has_value()) << "after " << before << ": never heard";
        player.pause();
        settle(200);
    }
}

} // namespace
