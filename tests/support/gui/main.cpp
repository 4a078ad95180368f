#include <QApplication>
#include <QTemporaryDir>
#include <clocale>
#include <gtest/gtest.h>

#include "platform/media/Media.h"
#include "support/Isolation.h"
#include "views/kit/Style.h"

// Widget tests run inside a QApplication on the offscreen platform, with the fixed font
// and the program's own style, so that sizes are the same on every machine.
int main(int argc, char** argv)
{
    // As the program starts (the start screen's stills are measured here).
    Media::pinHeapThresholds();
    QTemporaryDir settings;
    isolateTestProcess(settings);
    qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    Style::useFixedFont();
    Style::apply(app, Style::Scheme::dark);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
