// The stream window's drags on the real player: a recording whose key frames lie seconds
// apart makes each seek decode for a while, and Qt's back end holds any further seek
// inside `setPosition` until that is done, freezing the window.

#include "PlayingTesting.h"

#include "model/editing/StreamBrowser.h"

using namespace playing;

namespace {

// Forwards to the real player and counts the seeks sent before the last one had landed.
class Counting final : public Player {
public:
    explicit Counting(std::unique_ptr<Player> player) : inner(std::move(player))
    {
        connect(inner.get(), &Player::ticked, this, &Player::ticked);
        connect(inner.get(), &Player::landed, this, [this] {
            open = false;
            Q_EMIT landed();
        });
    }
    void seek(double seconds) override
    {
        ++sent;
        overlapping += open;
        open = true;
        inner->seek(seconds);
    }
    void setSource(const std::optional<QString>& path) override { inner->setSource(path); }
    std::optional<QString> source() const override { return inner->source(); }
    void setShort(const QString& path, std::vector<Span> spans) override { inner->setShort(path, std::move(spans)); }
    const std::vector<Span>& spans() const override { return inner->spans(); }
    void play() override { inner->play(); }
    void pause() override { inner->pause(); }
    double time() const override { return inner->time(); }
    double rate() const override { return inner->rate(); }
    void setVolume(float volume) override { inner->setVolume(volume); }
    float volume() const override { return inner->volume(); }
    void setReportInterval(double seconds) override { inner->setReportInterval(seconds); }
    double reportInterval() const override { return inner->reportInterval(); }
    QVideoSink* videoSink() const override { return inner->videoSink(); }
    bool tellsLanding() const override { return inner->tellsLanding(); }

    std::unique_ptr<Player> inner;
    int sent = 0;
    int overlapping = 0;
    bool open = false;
};

TEST(StreamSeekTest, ADragSeeksOneAtATimeAndShowsItsLastMove)
{
    const QString clip = sharedClip(QStringLiteral("numbered30-sparse.mp4"),
                                    [](const QString& p) { return Clips::numbered(p, 10, 30, 150); });
    ASSERT_FALSE(clip.isEmpty());
    auto* player = new Counting(Player::makeDefault());
    Watch watch(*player);
    StreamBrowser browser{std::unique_ptr<Player>(player)};
    browser.load(clip, 10);
    browser.seek(1.0);
    ASSERT_TRUE(watch.shows(frameAt(1.0)));
    // Twenty pointer moves 10 ms apart, each a new time, as a drag over the wave band.
    for (int i = 1; i <= 20; ++i) {
        browser.seek(1.0 + i * 0.4);
        lifecycle::settle(10);
    }
    EXPECT_DOUBLE_EQ(browser.time(), 9.0);
    EXPECT_TRUE(watch.shows(frameAt(9.0)));
    EXPECT_EQ(player->overlapping, 0) << "of " << player->sent << " seeks";
    EXPECT_LT(player->sent, 21);
    lifecycle::settle(300);
    EXPECT_DOUBLE_EQ(browser.time(), 9.0);
    EXPECT_EQ(watch.last(), frameAt(9.0));
}

} // namespace
