#pragma once

#include <coroutine>
#include <exception>

// A bare coroutine whose frame the test destroys by hand while it is suspended, as happens
// to work whose owner goes away: what it awaited must then never resume it.
//
//     Detached waiting = [](QProcess& p, bool& resumed) -> Detached { co_await …; resumed = true; }(…);
//     waiting.frame.destroy();
struct Detached {
    struct promise_type {
        Detached get_return_object() { return {std::coroutine_handle<promise_type>::from_promise(*this)}; }
        std::suspend_never initial_suspend() noexcept { return {}; }
        std::suspend_always final_suspend() noexcept { return {}; }
        void return_void() {}
        void unhandled_exception() { std::terminate(); }
    };
    std::coroutine_handle<promise_type> frame;
};
