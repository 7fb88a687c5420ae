#include <gtest/gtest.h>

#include <QCoreApplication>

// The Qt socket needs an application object; tests pump its event loop while they wait.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
