#pragma once

#include "platform/Observable.h"
#include "platform/media/Player.h"

#include <QObject>
#include <algorithm>
#include <memory>
#include <optional>

// The stream window's model with its own player. Loading a recording into it works now;
// browsing (scroll, zoom, seek, marking) is not built yet.
class StreamBrowser : public QObject {
    Q_OBJECT
public:
    explicit StreamBrowser(std::unique_ptr<Player> player, QObject* parent = nullptr)
        : QObject(parent), player_(std::move(player))
    {
    }

    Player& player() const { return *player_; }
    double duration() const { return duration_; }
    const std::optional<QString>& loaded() const { return loaded_; }

    void load(const std::optional<QString>& video, double duration)
    {
        if (assign(duration_, std::max(1.0, duration)))
            Q_EMIT durationChanged();
        if (loaded_ != video) {
            loaded_ = video;
            player_->setSource(video);
        }
    }

Q_SIGNALS:
    void durationChanged();

private:
    std::unique_ptr<Player> player_;
    double duration_ = 1;
    std::optional<QString> loaded_;
};
