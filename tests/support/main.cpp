#include <QCoreApplication>
#include <QTemporaryDir>
#include <clocale>
#include <gtest/gtest.h>

// Every test program runs inside a QCoreApplication so that timers, processes and
// network replies can be awaited; the C locale keeps number formatting fixed.
int main(int argc, char** argv)
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
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());

    QCoreApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
