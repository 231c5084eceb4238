#include <gtest/gtest.h>

#include "testutil.h"

// The test binary doubles as a helper process (holding a file lock), so the
// tests can make another process interfere without another program.
int main(int argc, char** argv) {
    int helper = runHelperMode(argc, argv);
    if (helper >= 0) return helper;
    testing::InitGoogleTest(&argc, argv);
    int failed = RUN_ALL_TESTS();
    // A failed run leaves its folders to look at.
    if (failed == 0) removeTempDirs();
    return failed;
}
