// The main of test programs that need a Qt application: private folders, the application
// (not while GoogleTest only lists the tests, which needs no display), the C numeric locale.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <clocale>
#include <cstring>
#include <memory>

#include "tests/support/isolation.h"

namespace kt {

inline int RunQtTests(int argc, char** argv) {
    IsolateEnvironment();
    bool listing = false;
    for (int i = 1; i < argc; ++i) listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    std::unique_ptr<QApplication> app;
    if (!listing) app = std::make_unique<QApplication>(argc, argv);
    setlocale(LC_NUMERIC, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

}  // namespace kt
