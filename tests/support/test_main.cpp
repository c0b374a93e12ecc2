// The main of every non-GUI test program: private folders first, then GoogleTest.
#include <gtest/gtest.h>
#include <clocale>

#include "tests/support/isolation.h"

int main(int argc, char** argv) {
    kt::IsolateEnvironment();
    setlocale(LC_NUMERIC, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
