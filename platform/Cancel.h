#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

// A shared cancel flag for one long task. Copies share the flag; a default-made token
// is never cancelled. Work checks `cancelled()` between its steps; an HTTP request in
// flight registers a callback that aborts it.
class Cancel {
public:
    Cancel() = default;
    static Cancel make() { Cancel c; c.state = std::make_shared<State>(); return c; }

    bool cancelled() const { return state && state->cancelled; }
    // False for a default-made token, which nothing can fire.
    bool live() const { return bool(state); }
    // Copies of one token are equal.
    bool operator==(const Cancel& other) const { return state == other.state; }

    void cancel() const
    {
        if (!state || state->cancelled)
            return;
        state->cancelled = true;
        // One at a time from the shared list: a callback may end work that forgets its own
        // callback (or another's) meanwhile, and a forgotten callback must not run.
        const auto keep = state;
        while (!keep->callbacks.empty()) {
            auto f = std::move(keep->callbacks.front().second);
            keep->callbacks.erase(keep->callbacks.begin());
            f();
        }
    }

    // Runs `f` when the token fires (at once if it already has); returns an id for `forget`.
    int onCancel(std::function<void()> f) const
    {
        if (!state)
            return 0;
        if (state->cancelled) {
            f();
            return 0;
        }
        const int id = ++state->nextId;
        state->callbacks.emplace_back(id, std::move(f));
        return id;
    }

    void forget(int id) const
    {
        if (!state || id == 0)
            return;
        std::erase_if(state->callbacks, [id](const auto& entry) { return entry.first == id; });
    }

private:
    struct State {
        bool cancelled = false;
        int nextId = 0;
        std::vector<std::pair<int, std::function<void()>>> callbacks;
    };
    std::shared_ptr<State> state;
};
