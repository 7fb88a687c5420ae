// The body of main() for a test program that makes windows and controls: the offscreen
// platform unless the environment names another, and a private registration record that
// lives as long as the run, so the tests neither need nor touch the user's.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "ondrel/component.h"

namespace lantry::testing {

inline int runWidgetTests(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir registry;
    if (!registry.isValid())
        return 1;
    qputenv(kRegistryEnvironmentVariable,
            registry.filePath(QStringLiteral("components.ini")).toLocal8Bit());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

}  // namespace lantry::testing
