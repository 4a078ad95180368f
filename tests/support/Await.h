#pragma once

#include "core/project/Fail.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <exception>
#include <optional>
#include <type_traits>

// Runs a task to its end in a nested event loop and returns its value, rethrowing its
// failure. QCoro::waitFor alone never returns when the task throws after it suspended.
namespace detail {
template <class T>
struct Outcome {
    std::optional<T> value;
    std::exception_ptr failure;
};
template <>
struct Outcome<void> {
    std::exception_ptr failure;
};

template <class T>
QCoro::Task<Outcome<T>> capture(QCoro::Task<T> task)
{
    Outcome<T> out;
    try {
        if constexpr (std::is_void_v<T>)
            co_await std::move(task);
        else
            out.value = co_await std::move(task);
    } catch (...) {
        out.failure = std::current_exception();
    }
    co_return out;
}
} // namespace detail

template <class T>
T await(QCoro::Task<T>&& task)
{
    auto out = QCoro::waitFor(detail::capture(std::move(task)));
    if (out.failure)
        std::rethrow_exception(out.failure);
    if constexpr (!std::is_void_v<T>)
        return std::move(*out.value);
}

// The sentence of the task's Fail, or nothing when it succeeded.
template <class T>
std::optional<QString> failureOf(QCoro::Task<T>&& task)
{
    try {
        await(std::move(task));
    } catch (const Fail& fail) {
        return fail.errorDescription;
    }
    return std::nullopt;
}
