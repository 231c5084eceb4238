#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <ctime>
#include <cstring>
#include <thread>

#include "apppaths.h"

#include "procutil.h"
#include "testutil.h"
#include "utility.h"

namespace {

TEST(WinArgs, Splitting) {
    struct Case { const char* text; std::vector<std::string> expected; };
    const Case cases[] = {
        {"", {}},
        {"    ", {}},
        {"a b", {"a", "b"}},
        {"\"a b\" c", {"a b", "c"}},
        {"\"\"", {""}},
        {"\"unclosed to the end", {"unclosed to the end"}},
        {"\"a\"b", {"a", "b"}},
        {"a\tb", {"a\tb"}},
        {"  lead  trail  ", {"lead", "trail"}},
        {"x\"y z", {"x\"y", "z"}},
    };
    for (const Case& c : cases) {
        std::vector<char> text(c.text, c.text + std::strlen(c.text) + 1);
        std::vector<char*> args = splitWinArgs(&text[0]);
        std::vector<std::string> got(args.begin(), args.end());
        EXPECT_EQ(c.expected, got) << "'" << c.text << "'";
    }
}

TEST(WinArgs, ParseWinArgSplitsInPlace) {
    char text[] = "\"a b\" c";
    parseWinArg(NULL, NULL, text, 0);
    EXPECT_EQ(0, std::memcmp(text, "\"a b\0 c\0", 8));
    char blanks[] = "   ";
    parseWinArg(NULL, NULL, blanks, 0);
    EXPECT_STREQ("   ", blanks);
}

TEST(LocalTime, FixedWidthBlankPadded) {
    struct Case { int year, month, day, hour, minute, second, isdst; const char* expected; };
    const Case cases[] = {
        {2024, 1, 5, 9, 3, 7, 0, "地方時: 2024/ 1/ 5  9: 3: 7 0\n"},
        {2024, 12, 31, 23, 59, 58, 1, "地方時: 2024/12/31 23:59:58 1\n"},
        {2024, 12, 31, 23, 59, 58, -1, "地方時: 2024/12/31 23:59:58 -1\n"},
    };
    for (const Case& c : cases) {
        struct tm t = {};
        t.tm_year = c.year - 1900;
        t.tm_mon = c.month - 1;
        t.tm_mday = c.day;
        t.tm_hour = c.hour;
        t.tm_min = c.minute;
        t.tm_sec = c.second;
        t.tm_isdst = c.isdst;
        EXPECT_EQ(c.expected, formatLocalTime(t));
    }
}

std::string lockOutput(const std::string& file, double* seconds = NULL) {
    auto start = std::chrono::steady_clock::now();
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, fileLock(file));
    std::string out = testing::internal::GetCapturedStdout();
    if (seconds) *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return out;
}

TEST(FileLock, FreeMissingAndHeldElsewhere) {
    std::string dir = makeTempDir();
    std::string file = dir + "lockme";
    writeFile(file, "x");
    EXPECT_EQ("file locked.\n", lockOutput(file));

    std::string missing = dir + "missing";
    std::string out = lockOutput(missing);
    EXPECT_NE("file locked.\n", out);
    EXPECT_NE("lock is failed.\n", out);
    EXPECT_FALSE(out.empty());
    EXPECT_FALSE(pathExists(missing)) << "the lock must not create the file";

    // Another process holds the lock for three seconds.
    std::string helper = currentModulePath();
    std::string commandLine = "\"" + helper + "\" --hold-lock \"" + file + "\" 3000";
    testing::internal::CaptureStdout();
    ASSERT_EQ(0, execute(helper, &commandLine[0], NULL, 0));
    testing::internal::GetCapturedStdout();
    for (int i = 0; i < 200 && !pathExists(file + ".locked"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(pathExists(file + ".locked"));
    double seconds = 0;
    EXPECT_EQ("lock is failed.\n", lockOutput(file, &seconds));
    EXPECT_LT(seconds, 1.6);
    releaseChildProcess();
}

}  // namespace

namespace {

TEST(LocalTime, PrintsOneLineForNow) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, getYYYYMMDDhhmmss());
    std::vector<std::string> lines = linesOf(testing::internal::GetCapturedStdout());
    ASSERT_EQ(1u, lines.size());
    time_t now = time(NULL);
    char year[8];
    std::strftime(year, sizeof(year), "%Y", localtime(&now));
    EXPECT_EQ(0u, lines[0].find(std::string("地方時: ") + year + "/")) << lines[0];
}

TEST(CharacterCodeTest, LabelsInOrder) {
    testing::internal::CaptureStdout();
    characterCodeTest();
    std::string out = testing::internal::GetCapturedStdout();
    std::setlocale(LC_ALL, "C");
    std::string::size_type t1 = out.find("TEST1\n"), t2 = out.find("TEST2\n"), t4 = out.find("TEST4\n"),
                           t5 = out.find("TEST5\n"), last = out.find("前処理をしないと、この日本語もうまく表示できない。\n");
    ASSERT_NE(std::string::npos, t1);
    ASSERT_NE(std::string::npos, t2);
    ASSERT_NE(std::string::npos, t4);
    ASSERT_NE(std::string::npos, t5);
    EXPECT_LT(t1, t2);
    EXPECT_LT(t2, t4);
    EXPECT_LT(t4, t5);
    EXPECT_EQ(std::string::npos, out.find("TEST3"));
    // The printf text has no newline of its own: TEST5 follows it directly.
    EXPECT_NE(std::string::npos, out.find("開発環境の設定に応じた文字列TEST5\n"));
    EXPECT_LT(t5, last);
}

}  // namespace
