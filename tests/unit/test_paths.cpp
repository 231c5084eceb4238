#include <gtest/gtest.h>

#include "apppaths.h"
#include "pathconst.h"
#include "testutil.h"

namespace {

// In code page 932: "ソフト" and "表示", whose first characters end in 0x5C.
#define SOFUTO "\x83\x5C" "\x83\x74" "\x83\x67"
#define HYOUJI "\x95\x5C" "\x8E\xA6"

struct PathCase {
    PathRules rules;
    const char* exe;
    const char* appDir;
    const char* exeFileName;
    LeadByteTest lead;
};

TEST(ApplicationPaths, ExecutableLocations) {
    const PathCase cases[] = {
        {WindowsPaths, "C:\\A\\B\\x.exe", "C:\\A\\B\\", "x.exe", 0},
        {WindowsPaths, "C:\\x.exe", "C:\\", "x.exe", 0},
        {WindowsPaths, "C:\\A\\my.app.exe", "C:\\A\\", "my.app.exe", 0},
        {WindowsPaths, "C:\\Tools.new\\x.exe", "C:\\Tools.new\\", "x.exe", 0},
        {WindowsPaths, "\\\\server\\share\\apps\\x.exe", "\\\\server\\share\\apps\\", "x.exe", 0},
        {WindowsPaths, "C:\\A\\noext", "C:\\A\\", "noext", 0},
        // A trail byte equal to a backslash separates nothing.
        {WindowsPaths, "C:\\jp\\" SOFUTO ".exe", "C:\\jp\\", SOFUTO ".exe", cp932Lead},
        {WindowsPaths, "C:\\" HYOUJI "\\x.exe", "C:\\" HYOUJI "\\", "x.exe", cp932Lead},
        {WindowsPaths, "C:\\" SOFUTO "\\" HYOUJI "\\" HYOUJI ".exe", "C:\\" SOFUTO "\\" HYOUJI "\\",
         HYOUJI ".exe", cp932Lead},
        {PosixPaths, "/opt/app/launcher", "/opt/app/", "launcher", 0},
        {PosixPaths, "/launcher", "/", "launcher", 0},
        {PosixPaths, "/opt/my.app/launcher.bin", "/opt/my.app/", "launcher.bin", 0},
        // A backslash is an ordinary character in a POSIX name.
        {PosixPaths, "/opt/a\\b/launcher", "/opt/a\\b/", "launcher", 0},
    };
    for (const PathCase& c : cases) {
        setModulePaths(c.exe, c.rules, c.lead);
        EXPECT_EQ(c.appDir, appDir) << c.exe;
        EXPECT_EQ(c.exeFileName, exeFileName) << c.exe;
        EXPECT_EQ(appDir, parentDir) << c.exe;
    }
}

// In code page 932 these three end in 0x5C, the byte of a backslash.
#define HYOU "\x95\x5C"
#define SO "\x83\x5C"
#define NOU "\x94\x5C"

TEST(ApplicationPaths, OneSeparatorTestKnowsDoubleByteCharacters) {
    // folder, name, joined, and where the last separator of the joined path stands.
    struct Case { const char* folder; const char* name; const char* joined; size_t last; };
    const Case cases[] = {
        // The end of a PATH folder, of JAVA_HOME, of the launcher's folder.
        {"C:\\Tools\\" HYOU, "javaw.exe", "C:\\Tools\\" HYOU "\\javaw.exe", 11},
        {"C:\\Java\\jdk" SO, "bin\\javaw.exe", "C:\\Java\\jdk" SO "\\bin\\javaw.exe", 17},
        {"C:\\" NOU "\\", "launcher.jsa", "C:\\" NOU "\\launcher.jsa", 5},
        // Inside a name and at its start, and a folder that ends in a separator.
        {"C:\\a" HYOU "b", "x", "C:\\a" HYOU "b\\x", 7},
        {"C:\\" SO "x\\", "y", "C:\\" SO "x\\y", 6},
        {"C:\\Tools\\", "javaw.exe", "C:\\Tools\\javaw.exe", 8},
        {"", "javaw.exe", "javaw.exe", std::string::npos},
    };
    for (const Case& c : cases) {
        std::string joined = joinPath(c.folder, c.name, WindowsPaths, cp932Lead);
        EXPECT_EQ(c.joined, joined) << c.joined;
        EXPECT_EQ(c.last, lastSeparator(joined, WindowsPaths, cp932Lead)) << c.joined;
    }
    // Without the code page, the trail byte would be taken for a separator.
    EXPECT_EQ("C:\\Tools\\" HYOU "javaw.exe", joinPath("C:\\Tools\\" HYOU, "javaw.exe", WindowsPaths, 0));
    EXPECT_EQ("/opt/a\\/b", joinPath("/opt/a\\", "b", PosixPaths, 0));
}

TEST(ApplicationPaths, GoesOnOnlyWithItsOwnFolder) {
    struct Case { PathRules rules; const char* exe; bool known; };
    const Case cases[] = {
        {PosixPaths, "", false},  // /proc/self/exe could not be read
        {PosixPaths, "launcher", false},
        {PosixPaths, "/opt/app/launcher", true},
        {PosixPaths, "/launcher", true},
        {WindowsPaths, "", false},
        {WindowsPaths, "C:x.exe", false},
        {WindowsPaths, "C:\\x.exe", true},
        {WindowsPaths, "\\\\server\\share\\x.exe", true},
    };
    for (const Case& c : cases) EXPECT_EQ(c.known, ownFolderKnown(c.exe, c.rules)) << c.exe;
}

TEST(ApplicationPaths, SplitKeepsEveryDotButTheLast) {
    std::string drive, dir, fname, ext;
    splitPath("D:\\Tools.new\\my.app.v2.exe", WindowsPaths, drive, dir, fname, ext);
    EXPECT_EQ("D:", drive);
    EXPECT_EQ("\\Tools.new\\", dir);
    EXPECT_EQ("my.app.v2", fname);
    EXPECT_EQ(".exe", ext);
    splitPath("\\\\srv\\share\\x", WindowsPaths, drive, dir, fname, ext);
    EXPECT_EQ("", drive);
    EXPECT_EQ("\\\\srv\\share\\", dir);
    EXPECT_EQ("x", fname);
    EXPECT_EQ("", ext);
}

TEST(ApplicationPaths, ParentOfDirectoryWithoutTrailingSeparator) {
    // Boost's parent path: the last element goes, the root stays.
    EXPECT_EQ("C:\\A\\", parentDirOf("C:\\A\\B", WindowsPaths));
    EXPECT_EQ("\\", parentDirOf("", WindowsPaths));
    EXPECT_EQ("/usr/", parentDirOf("/usr/lib", PosixPaths));
}

TEST(ApplicationPaths, TheRunningExecutable) {
    EXPECT_EQ(1, setModuleFileName());
    std::string path = currentModulePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path, appDir + exeFileName);
    EXPECT_EQ(std::string(fileSep), appDir.substr(appDir.size() - 1));
    EXPECT_EQ(appDir, parentDir);
    EXPECT_NE(std::string::npos, exeFileName.find("unit_tests"));
}

}  // namespace
