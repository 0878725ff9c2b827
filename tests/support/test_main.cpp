#include "support/test_support.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    vellum::test::initHostThread();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
