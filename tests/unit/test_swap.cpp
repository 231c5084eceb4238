#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#endif

#include "apppaths.h"
#include "baseutil.h"
#include "main.h"
#include "pathconst.h"
#include "testutil.h"

namespace {

// What the updater staged: a whole jar.
const std::string NEW_JAR = jarBytes("new");

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
        if (withUp) writeFile(up, NEW_JAR);
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
    EXPECT_EQ(NEW_JAR, readFile(f.jar));
    EXPECT_FALSE(pathExists(f.up));
}

// The little-endian number of bytes bytes at offset in data, replaced.
std::string patched(std::string data, size_t offset, unsigned long value, int bytes = 4) {
    for (int i = 0; i < bytes; ++i) data[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return data;
}

TEST(StagedSwap, OnlyAWholeJarIsSwappedIn) {
    const std::string jar = jarBytes("version 2 of the application", 3);
    const std::string jar64 = jarBytes("new", 3, true);
    const size_t centralStart = jar.find("PK\x01\x02"), central64 = jar64.find("PK\x01\x02");
    const unsigned long unpointed64Size = static_cast<unsigned long>(jar64.find("PK\x06\x06") - central64);
    struct Case { const char* name; std::string staged; bool whole; };
    const Case cases[] = {
        {"a whole jar", jar, true},
        {"a Zip64 jar", jar64, true},
        {"a jar with a trailing comment", jarBytes("new", 2, false, "built by the vendor"), true},
        {"an empty file", "", false},
        {"a text file", "version 2\n", false},
        {"cut inside an entry", jar.substr(0, 40), false},
        {"cut inside the central directory", jar.substr(0, centralStart + 50), false},
        {"cut inside the end record", jar.substr(0, jar.size() - 6), false},
        {"central directory past the end", patched(jar, jar.size() - 6, 0x7FFFFFFF), false},
        {"a local header overwritten", patched(jar, 0, 0x2D2D2D2D), false},
        {"a Zip64 jar cut inside its Zip64 end record", jar64.substr(0, jar64.find("PK\x06\x06") + 30), false},
        {"an archive without entries", jarBytes("", 0), false},
        // What Java reads, and what it refuses when it opens the archive.
        {"a start script before it, offsets as they were", "#!/bin/sh\nexec java -jar \"$0\"\n" + jar, true},
        {"a byte after the end record", jar + '\0', false},
        {"a comment longer than what follows", patched(jar, jar.size() - 2, 5, 2), false},
        {"an encrypted entry", patched(jar, centralStart + 8, 1, 2), false},
        {"an entry in bzip2", patched(jar, centralStart + 10, 12, 2), false},
        {"a name that is not UTF-8", patched(jar, centralStart + 46 + 5, 0xC0, 1), false},
        {"a Zip64 field longer than the extra field", patched(jar64, central64 + 46 + 20 + 2, 9, 2), false},
        {"a Zip64 field of a wrong length", patched(jar64, central64 + 46 + 20 + 2, 4, 2), false},
        {"a central directory offset past where it starts", patched(jar, jar.size() - 6, centralStart + 1), false},
        // The manifest, which java -jar reads before Java's own reader does.
        {"no META-INF/MANIFEST.MF", patched(jar, centralStart + 46 + 9, 'N', 1), false},
        {"a stored manifest with two sizes", patched(jar, centralStart + 20, 5), false},
        {"a manifest whose data runs past the entries",
         patched(patched(jar, centralStart + 20, 0x10000), centralStart + 24, 0x10000), false},
        {"a Zip64 jar whose manifest's offset is in its Zip64 field", jarBytes("new", 3, true, "", true), false},
        // java -jar takes the Zip64 end record whose values are the end
        // record's, saturated or not, on the end record's disk.
        {"a Zip64 end record beside an end record that is not saturated",
         patched(patched(patched(jar64, jar64.size() - 12, 3, 2), jar64.size() - 10, unpointed64Size),
                 jar64.size() - 6, central64),
         true},
        {"a Zip64 jar after a start script", "#!/bin/sh\n" + jar64, true},
        {"end record disk numbers unlike the Zip64 locator's", patched(jar64, jar64.size() - 18, 0xFFFFFFFF), false},
        {"a Zip64 end record whose count is not the end record's",
         patched(patched(patched(jar64, jar64.size() - 12, 2, 2), jar64.size() - 10, unpointed64Size),
                 jar64.size() - 6, central64),
         false},
    };
    for (const Case& c : cases) {
        Folder f(true, false);
        writeFile(f.up, c.staged);
        writeFile(f.up + ".bad", "set aside by an earlier start");
        std::vector<std::string> lines = swap();
        ASSERT_GE(lines.size(), 4u) << c.name;
        EXPECT_EQ("upFileExists=1", lines[2]) << c.name;
        if (c.whole) {
            EXPECT_EQ("remove succeed.", lines[3]) << c.name;
            EXPECT_EQ(c.staged, readFile(f.jar)) << c.name;
            EXPECT_FALSE(pathExists(f.up)) << c.name;
            continue;
        }
        ASSERT_EQ(5u, lines.size()) << c.name;
        EXPECT_EQ(0u, lines[3].find("upFileRejected=not a whole jar: ")) << c.name << ": " << lines[3];
        EXPECT_EQ("upFileSetAside=" + f.up + ".bad", lines[4]) << c.name;
        EXPECT_EQ("old", readFile(f.jar)) << c.name;
        EXPECT_FALSE(pathExists(f.up)) << c.name;
        EXPECT_EQ(c.staged, readFile(f.up + ".bad")) << c.name;
    }
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
    EXPECT_EQ(NEW_JAR, readFile(f.jar));
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
    writeFile(f.dir + "v.up" + fileSep + "x.up.up", NEW_JAR);
    std::vector<std::string> lines = swap();
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("upFilePath=" + f.dir + fileSep + "v.up" + fileSep + "x.up.up", lines[1]);
    EXPECT_EQ(NEW_JAR, readFile(f.dir + "v.jar" + fileSep + "x.jar.jar"));
}

TEST(StagedSwap, OnlyAHeldFileIsWorthARetry) {
    struct Case { unsigned long error; bool folderInTheWay, folderWritable; ReplaceResult expected; };
#ifdef _WIN32
    const Case cases[] = {
        {ERROR_SHARING_VIOLATION, false, true, ReplaceBusy}, {ERROR_LOCK_VIOLATION, false, true, ReplaceBusy},
        // A target another program holds open, in a folder we may write.
        {ERROR_ACCESS_DENIED, false, true, ReplaceBusy},
        // A folder the user cannot write (Program Files), or a folder in the way.
        {ERROR_ACCESS_DENIED, false, false, ReplaceFailed}, {ERROR_ACCESS_DENIED, true, true, ReplaceFailed},
        {ERROR_PATH_NOT_FOUND, false, true, ReplaceFailed}, {ERROR_DISK_FULL, false, true, ReplaceFailed},
        {ERROR_WRITE_PROTECT, false, true, ReplaceFailed},
        // Program Files where virtualization could not be turned off: the
        // test write lands in the VirtualStore, the folder stays refused.
        {ERROR_ACCESS_DENIED, false, writableForJava(true, StillVirtualized), ReplaceFailed},
        {ERROR_ACCESS_DENIED, false, writableForJava(true, VirtualizationTurnedOff), ReplaceBusy},
        {ERROR_ACCESS_DENIED, false, writableForJava(false, NotVirtualized), ReplaceFailed},
    };
#else
    const Case cases[] = {
        {EBUSY, false, true, ReplaceBusy}, {ETXTBSY, false, true, ReplaceBusy},
        {EACCES, false, false, ReplaceFailed}, {EACCES, false, true, ReplaceFailed}, {EPERM, false, true, ReplaceFailed},
        {EISDIR, true, true, ReplaceFailed}, {EROFS, false, false, ReplaceFailed},
    };
#endif
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, replaceResultOf(c.error, c.folderInTheWay, c.folderWritable))
            << c.error << " " << c.folderInTheWay << " " << c.folderWritable;

    // And that for about two seconds in all; anything else not at all.
    std::vector<int> waits;
    for (int waited = 0, delay; waits.size() < 20 && (delay = swapRetryDelay(ReplaceBusy, waited)) != 0;
         waited += delay)
        waits.push_back(delay);
    EXPECT_EQ(std::vector<int>({50, 100, 200, 400, 800}), waits);
    EXPECT_EQ(0, swapRetryDelay(ReplaceFailed, 0));
}

TEST(StagedSwap, JarThatNoRetryCanReplaceIsKept) {
    // Waiting does not help here, and both stay as they are. (Not timed:
    // the flush before the swap took 1.5 s on a busy disk.)
    struct Case { const char* name; bool folder; };
    const Case cases[] = {{"read-only jar", false}, {"folder in the jar's place", true}};
    for (const Case& c : cases) {
        Folder f(!c.folder, true);
        if (c.folder) makeDir(f.jar);
        else makeReadOnly(f.jar);
        std::vector<std::string> lines = swap();
        // A read-only jar is not even tried; a folder says why it stays.
        ASSERT_EQ(c.folder ? 4u : 3u, lines.size()) << c.name;
        if (c.folder) {
            EXPECT_EQ(0u, lines[3].find("upFileNotSwapped=cannot be replaced (error ")) << lines[3];
        }
        EXPECT_TRUE(pathExists(f.jar)) << c.name;
        if (!c.folder) {
            EXPECT_EQ("old", readFile(f.jar)) << c.name;
        }
        EXPECT_EQ(NEW_JAR, readFile(f.up)) << c.name;
    }
}

TEST(StagedSwap, HeldJarIsRetriedThenLeftForTheNextStart) {
    Folder f(true, true);
    if (!holdFile(f.jar)) GTEST_SKIP() << "no mandatory file locks on this platform";
    auto start = std::chrono::steady_clock::now();
    std::vector<std::string> lines = swap();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    releaseHeldFile();
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ(0u, lines[3].find("upFileNotSwapped=held by another program (error ")) << lines[3];
    EXPECT_EQ("old", readFile(f.jar));
    EXPECT_EQ(NEW_JAR, readFile(f.up));
    EXPECT_GT(seconds, 1.0) << "it must retry";

    lines = swap();  // the next start
    EXPECT_EQ(4u, lines.size());
    EXPECT_EQ(NEW_JAR, readFile(f.jar));
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
    EXPECT_EQ(NEW_JAR, readFile(f.jar));
}

TEST(StagedSwap, HeldStagedFileLeavesBoth) {
    Folder f(true, true);
    if (!holdFile(f.up)) GTEST_SKIP() << "no mandatory file locks on this platform";
    std::vector<std::string> lines = swap();
    releaseHeldFile();
    // Held without sharing, it cannot even be opened for the existence test.
    EXPECT_LE(lines.size(), 3u);
    EXPECT_EQ("old", readFile(f.jar));
    EXPECT_EQ(NEW_JAR, readFile(f.up));
}

}  // namespace
