// GoogleTest main for widget tests: one QApplication for the whole program. Without a platform
// chosen by the environment the tests run on the offscreen platform (also while CTest lists
// the tests at build time).

#include <gtest/gtest.h>

#include <QApplication>

#include "KeepLibrariesLoaded.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    testsupport::KeepLibrariesLoaded();
    return status;
}
