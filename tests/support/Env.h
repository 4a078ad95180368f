#pragma once

#include <QByteArray>
#include <optional>

// Sets an environment variable for a scope (or unsets it), then puts the old state back.
struct ScopedEnv {
    const char* name;
    std::optional<QByteArray> old;

    ScopedEnv(const char* n, const std::optional<QByteArray>& value)
        : name(n), old(qEnvironmentVariableIsSet(n) ? std::optional(qgetenv(n)) : std::nullopt)
    {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old)
            qputenv(name, *old);
        else
            qunsetenv(name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
};
