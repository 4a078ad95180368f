#include <QCoreApplication>
#include <QTemporaryDir>
#include <clocale>
#include <gtest/gtest.h>

#include "support/Isolation.h"

// Every test program runs inside a QCoreApplication so that timers, processes and
// network replies can be awaited; the C locale keeps number formatting fixed.
int main(int argc, char** argv)
{
    QTemporaryDir settings;
    isolateTestProcess(settings);

    QCoreApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
