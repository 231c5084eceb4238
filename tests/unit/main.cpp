#include <gtest/gtest.h>

#include "apppaths.h"
#include "baseutil.h"
#include "main.h"
#include "testutil.h"

namespace {

// The process-wide values that tests set (the launcher's paths, a command
// line, the token's state), as they were before each test, and again after
// it: no test's leftovers decide another's outcome.
class RestoresGlobals : public testing::EmptyTestEventListener {
    struct Values {
        std::string appDir, exeFileName, parentDir;
        std::string javaCommandLine, javaProgram, jar2;
        int passArgs, exitDoUpdate;
        Virtualization virtualization;
    } saved_;

public:
    void OnTestStart(const testing::TestInfo&) override {
        saved_ = {appDir, exeFileName, parentDir, javaCommandLine, javaProgram, jar2, passArgs, EXIT_doUpdate,
                  virtualization};
    }
    void OnTestEnd(const testing::TestInfo&) override {
        appDir = saved_.appDir, exeFileName = saved_.exeFileName, parentDir = saved_.parentDir;
        javaCommandLine = saved_.javaCommandLine, javaProgram = saved_.javaProgram, jar2 = saved_.jar2;
        passArgs = saved_.passArgs, EXIT_doUpdate = saved_.exitDoUpdate;
        virtualization = saved_.virtualization;
    }
};

}  // namespace

// The test binary doubles as a helper process (holding a file lock), so the
// tests can make another process interfere without another program.
int main(int argc, char** argv) {
    int helper = runHelperMode(argc, argv);
    if (helper >= 0) return helper;
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new RestoresGlobals);
    int failed = RUN_ALL_TESTS();
    // A failed run leaves its folders to look at.
    if (failed == 0) removeTempDirs();
    return failed;
}
