#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

// Runs a view's refresh once on the next turn of the event loop, however often it was
// asked for meanwhile: the project notifies on every step of a drag.
class Coalesce {
public:
    Coalesce(QObject* owner, std::function<void()> work)
        : owner(owner)
        , work(std::move(work))
    {
    }
    void ask()
    {
        if (pending)
            return;
        pending = true;
        QTimer::singleShot(0, owner, [this] {
            pending = false;
            work();
        });
    }

private:
    QObject* owner;
    std::function<void()> work;
    bool pending = false;
};
