#include <QApplication>
#include <QTemporaryDir>
#include <clocale>
#include <gtest/gtest.h>

#include "views/kit/Style.h"

// Widget tests run inside a QApplication on the offscreen platform, with the fixed font
// and the program's own style, so that sizes are the same on every machine.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("VANTOREL_API_BASE"))
        qputenv("VANTOREL_API_BASE", "http://127.0.0.1:9");
    if (qEnvironmentVariableIsEmpty("VANTOREL_FEED_URL"))
        qputenv("VANTOREL_FEED_URL", "http://127.0.0.1:9/latest.json");
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    Style::useFixedFont();
    Style::apply(app, Style::Scheme::dark);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
