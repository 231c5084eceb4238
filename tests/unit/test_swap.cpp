#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "apppaths.h"
#include "main.h"
#include "pathconst.h"
#include "testutil.h"

namespace {

// An application folder with lib/app.jar and, when asked, lib/app.up.
struct Folder {
    std::string dir;
    std::string jar;
    std::string up;
    Folder(bool withJar, bool withUp) {
        dir = makeTempDir();
        makeDir(dir + "lib");
        setModulePaths(dir + "launcher", nativePathRules);
        jar2 = std::string("lib") + fileSep + "app.jar";
        jar = dir + fileSep + jar2;
        up = dir + fileSep + "lib" + fileSep + "app.up";
        if (withJar) writeFile(jar, "old");
        if (withUp) writeFile(up, "new");
    }
};

std::vector<std::string> swap() {
    testing::internal::CaptureStdout();
    renameUpFile();
    return linesOf(testing::internal::GetCapturedStdout());
}

TEST(StagedSwap, StagedFileReplacesTheJar) {
    Folder f(true, true);
    std::vector<std::string> lines = swap();
    std::vector<std::string> expected = {"jarFilePath=" + f.jar, "upFilePath=" + f.up, "upFileExists=1",
                                         "remove succeed."};
    EXPECT_EQ(expected, lines);
    EXPECT_EQ("new", readFile(f.jar));
    EXPECT_FALSE(pathExists(f.up));
}

TEST(StagedSwap, NothingStaged) {
    Folder f(true, false);
    std::vector<std::string> expected = {"jarFilePath=" + f.jar, "upFilePath=" + f.up, "upFileExists=0"};
    EXPECT_EQ(expected, swap());
    EXPECT_EQ("old", readFile(f.jar));
}

TEST(StagedSwap, StagedFileWithoutJarIsPutInPlace) {
    Folder f(false, true);
    std::vector<std::string> lines = swap();
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("upFileExists=1", lines[2]);
    EXPECT_EQ("new", readFile(f.jar));
    EXPECT_FALSE(pathExists(f.up));
}

TEST(StagedSwap, PathsWithoutADistinctStagedFile) {
    struct Case { const char* name; std::string jarValue; };
    const Case cases[] = {
        {"no -jar item", ""},
        {"upper-case extension", "APP.JAR"},
        {"placeholder kept", "${APP_DIR}app.jar"},
        {"absolute path", "C:\\app\\app.jar"},
    };
    for (const Case& c : cases) {
        Folder f(true, true);
        writeFile(f.dir + "APP.JAR", "upper");
        jar2 = c.jarValue;
        std::vector<std::string> lines = swap();
        ASSERT_GE(lines.size(), 3u) << c.name;
        EXPECT_EQ("jarFilePath=" + f.dir + fileSep + c.jarValue, lines[0]) << c.name;
        EXPECT_EQ("upFileExists=0", lines[2]) << c.name;
        EXPECT_EQ(3u, lines.size()) << c.name;
        EXPECT_EQ("upper", readFile(f.dir + "APP.JAR")) << c.name;
        EXPECT_EQ("old", readFile(f.jar)) << c.name;
    }
}

TEST(StagedSwap, EveryDotJarIsReplaced) {
    Folder f(false, false);
    makeDir(f.dir + "v.jar");
    jar2 = std::string("v.jar") + fileSep + "x.jar.jar";
    makeDir(f.dir + "v.up");
    writeFile(f.dir + "v.jar" + fileSep + "x.jar.jar", "old");
    writeFile(f.dir + "v.up" + fileSep + "x.up.up", "new");
    std::vector<std::string> lines = swap();
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("upFilePath=" + f.dir + fileSep + "v.up" + fileSep + "x.up.up", lines[1]);
    EXPECT_EQ("new", readFile(f.dir + "v.jar" + fileSep + "x.jar.jar"));
}

TEST(StagedSwap, JarThatNoRetryCanReplaceIsKeptAtOnce) {
    // Waiting does not help here: no retries, and both stay as they are.
    struct Case { const char* name; bool folder; };
    const Case cases[] = {{"read-only jar", false}, {"folder in the jar's place", true}};
    for (const Case& c : cases) {
        Folder f(!c.folder, true);
        if (c.folder) makeDir(f.jar);
        else makeReadOnly(f.jar);
        auto start = std::chrono::steady_clock::now();
        std::vector<std::string> lines = swap();
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(3u, lines.size()) << c.name;
        EXPECT_TRUE(pathExists(f.jar)) << c.name;
        if (!c.folder) {
            EXPECT_EQ("old", readFile(f.jar)) << c.name;
        }
        EXPECT_EQ("new", readFile(f.up)) << c.name;
        EXPECT_LT(seconds, 0.5) << c.name;
    }
}

TEST(StagedSwap, HeldJarIsRetriedThenLeftForTheNextStart) {
    Folder f(true, true);
    if (!holdFile(f.jar)) GTEST_SKIP() << "no mandatory file locks on this platform";
    auto start = std::chrono::steady_clock::now();
    std::vector<std::string> lines = swap();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    releaseHeldFile();
    EXPECT_EQ(3u, lines.size());
    EXPECT_EQ("old", readFile(f.jar));
    EXPECT_EQ("new", readFile(f.up));
    EXPECT_GT(seconds, 1.0) << "it must retry";
    EXPECT_LT(seconds, 3.0) << "but only for about two seconds";

    lines = swap();  // the next start
    EXPECT_EQ(4u, lines.size());
    EXPECT_EQ("new", readFile(f.jar));
}

TEST(StagedSwap, JarReleasedWithinTheRetryWindow) {
    Folder f(true, true);
    if (!holdFile(f.jar)) GTEST_SKIP() << "no mandatory file locks on this platform";
    std::thread releaser([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        releaseHeldFile();
    });
    std::vector<std::string> lines = swap();
    releaser.join();
    EXPECT_EQ(4u, lines.size());
    EXPECT_EQ("new", readFile(f.jar));
}

TEST(StagedSwap, HeldStagedFileLeavesBoth) {
    Folder f(true, true);
    if (!holdFile(f.up)) GTEST_SKIP() << "no mandatory file locks on this platform";
    std::vector<std::string> lines = swap();
    releaseHeldFile();
    // Held without sharing, it cannot even be opened for the existence test.
    EXPECT_LE(lines.size(), 3u);
    EXPECT_EQ("old", readFile(f.jar));
    EXPECT_EQ("new", readFile(f.up));
}

}  // namespace
