#pragma once

#include <QTemporaryDir>

// Cuts a test process off from the outside before its application object is made.
inline void isolateTestProcess(const QTemporaryDir& settings)
{
    // No test may reach a real host: unless a test points them at its own fake server,
    // the gateway and the update feed are a closed port on this machine.
    if (qEnvironmentVariableIsEmpty("VANTOREL_API_BASE"))
        qputenv("VANTOREL_API_BASE", "http://127.0.0.1:9");
    if (qEnvironmentVariableIsEmpty("VANTOREL_FEED_URL"))
        qputenv("VANTOREL_FEED_URL", "http://127.0.0.1:9/latest.json");
    // Preferences of their own for every test process: the user's are never touched, and
    // processes that ctest runs side by side never see each other's values (QSettings
    // merges what other processes write into the same file).
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    // Nor the user's data folder (where a process notes its temporary files, for one).
    qputenv("XDG_DATA_HOME", (settings.path() + QStringLiteral("/data")).toUtf8());
}
