#pragma once

// A widget test run again in a child process of its own program, on a screen scaled as a
// HiDPI desktop scales it: the scale counts only when it is set before the application
// object is made.

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <gtest/gtest.h>

namespace scaled {

// True in such a child.
inline bool inChild()
{
    return qEnvironmentVariableIsSet("VANTOREL_TEST_SCALED");
}

// Runs the current test in a child at `factor` ("2", "1.25"). Empty when it passed; else
// what the child printed.
inline QString runCurrentTestAt(const QString& factor)
{
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_SCALE_FACTOR"), factor);
    environment.insert(QStringLiteral("VANTOREL_TEST_SCALED"), factor);
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=%1.%2")
                     .arg(QString::fromUtf8(test->test_suite_name()), QString::fromUtf8(test->name()))});
    if (!child.waitForFinished(120000)) {
        child.kill();
        child.waitForFinished(10000);
        return QStringLiteral("the child at scale %1 did not end").arg(factor);
    }
    const QString said = QString::fromUtf8(child.readAll());
    // A filter that matched nothing passes too: the one test must have run.
    if (child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0
        && said.contains(QStringLiteral("[  PASSED  ] 1 test.")))
        return {};
    return said;
}

} // namespace scaled
