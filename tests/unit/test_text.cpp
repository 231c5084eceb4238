#include <gtest/gtest.h>

#include <cstdlib>

#include <clocale>
#include <cstring>

#include "baseutil.h"
#include "supportlog.h"
#include "testutil.h"

namespace {

TEST(Replace, Table) {
    struct Case { const char* src; const char* from; const char* to; const char* expected; };
    const Case cases[] = {
        {"C:\\app\\\\lib.jar", ".jar", ".up", "C:\\app\\\\lib.up"},
        {"C:\\x.jar\\lib.jar", ".jar", ".up", "C:\\x.up\\lib.up"},
        {"aaa", "a", "b", "bbb"},
        {"xx", "x", "xx", "xxxx"},      // the inserted text is not searched again
        {"abc", "z", "y", "abc"},
        {"", "a", "b", ""},
        {"aabb", "ab", "", "ab"},        // resumes where the removed text was
        {"x.jar.jar", ".jar", ".up", "x.up.up"},
        {"APP.JAR", ".jar", ".up", "APP.JAR"},
        {"abc", "", "z", "abc"},         // an empty search text must not loop
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, Replace(c.src, c.from, c.to)) << c.src << " / " << c.from;
}

TEST(SplitAt, EveryPieceEmptyOnesIncluded) {
    typedef std::vector<std::string> Pieces;
    struct Case { const char* text; Pieces pieces; };
    const Case cases[] = {
        {"a:b", {"a", "b"}}, {"a::b", {"a", "", "b"}}, {":a:", {"", "a", ""}}, {"", {""}}, {"abc", {"abc"}},
    };
    for (const Case& c : cases) EXPECT_EQ(c.pieces, splitAt(c.text, ':')) << c.text;
}

TEST(SupportLog, LinesTimesAndNames) {
    struct Time { int offset; const char* text; };
    const Time times[] = {
        {540, "2026-12-09 14:53:01.004 +09:00"},
        {0, "2026-12-09 14:53:01.004 +00:00"},
        {-210, "2026-12-09 14:53:01.004 -03:30"},  // Newfoundland
        {345, "2026-12-09 14:53:01.004 +05:45"},   // Nepal
    };
    for (const Time& t : times) EXPECT_EQ(t.text, logTime(2026, 12, 9, 14, 53, 1, 4, t.offset));
    EXPECT_EQ("4242 +1500 argc=1", logLine(4242, 1500, "argc=1"));
    EXPECT_EQ("4242 system: Linux", logHeaderLine(4242, "system: Linux"));
    // One file per application folder, named after the launcher.
    std::string one = supportLogName("MyApp.exe", "C:\\Apps\\One\\");
    EXPECT_EQ(0u, one.find("MyApp-")) << one;
    EXPECT_EQ(".log", one.substr(one.size() - 4));
    EXPECT_NE(one, supportLogName("MyApp.exe", "C:\\Apps\\Two\\"));
    // The newest five crash reports stay; ties by name, so that the choice
    // does not depend on the order of the folder's listing.
    std::vector<std::pair<std::string, long long> > reports;
    for (int i = 0; i < 7; ++i) reports.push_back(std::make_pair("r" + std::to_string(i), i == 6 ? 1 : 10 + i));
    EXPECT_EQ((std::vector<std::string>{"r0", "r6"}), crashReportsToRemove(reports, 5));
    EXPECT_TRUE(crashReportsToRemove(std::vector<std::pair<std::string, long long> >(reports.begin(), reports.begin() + 5), 5).empty());
}

TEST(SupportLog, JavasStandardErrorIsKeptInWholeLinesUpToItsBudget) {
    typedef std::vector<std::string> Lines;
    ErrorLines lines(30, 8);
    // A line that comes in pieces comes out once whole; CRLF ends one too.
    EXPECT_EQ(Lines(), lines.feed("Excep", 5));
    EXPECT_EQ(Lines({"Exceptio", "n"}), lines.feed("tion\r\nat", 8));
    EXPECT_EQ(Lines({"at x"}), lines.feed(" x\nsecond line\n", 3));
    // Each line counts with its end: 9 + 2 + 5 + 9 + 4 = 29 of 30 bytes
    // kept, and "more" no longer fits; what does not fit is only counted.
    EXPECT_EQ(Lines({"second l", "ine"}), lines.feed("second line\nmore\n", 17));
    EXPECT_EQ(Lines({"(5 more bytes of standard error not kept)"}), lines.finish());
    ErrorLines unfinished(100, 100);
    unfinished.feed("no newline", 10);
    EXPECT_EQ(Lines({"no newline"}), unfinished.finish());
    EXPECT_EQ(Lines(), unfinished.finish());
}

TEST(YesNo, IsTrueAndIsEmpty) {
    const char* yes[] = {"y", "Y"};
    const char* no[] = {"", "n", "N", "yes", "YES", "true", "1", " y", "y ", "yy"};
    for (const char* s : yes) EXPECT_EQ(1, isTrue(s)) << "'" << s << "'";
    for (const char* s : no) EXPECT_EQ(0, isTrue(s)) << "'" << s << "'";
    EXPECT_EQ(1, isEmpty(""));
    EXPECT_EQ(0, isEmpty(" "));
    EXPECT_EQ(0, isEmpty(std::string(1, '\0')));
}

TEST(Utf8ToWString, Conversions) {
    EXPECT_EQ(WideText(), utf8ToWString(""));
    WideText japanese = utf8ToWString("日本語");
    ASSERT_EQ(3u, japanese.size());
    EXPECT_EQ(0x65E5, japanese[0]);
    EXPECT_EQ(0x8A9E, japanese[2]);
    // U+1F600 outside the Basic Multilingual Plane.
    WideText emoji = utf8ToWString("\xF0\x9F\x98\x80");
    if (sizeof(wchar_t) == 2) {
        ASSERT_EQ(2u, emoji.size());
        EXPECT_EQ(0xD83D, emoji[0]);
        EXPECT_EQ(0xDE00, emoji[1]);
    } else {
        ASSERT_EQ(1u, emoji.size());
        EXPECT_EQ(0x1F600, static_cast<long>(emoji[0]));
    }
    // The text ends at an embedded NUL.
    EXPECT_EQ(L"ab", utf8ToWString(std::string("ab\0cd", 5)));
    // Invalid bytes are substituted, not an error.
    WideText bad = utf8ToWString("a\xFF" "b");
    ASSERT_EQ(3u, bad.size());
    EXPECT_EQ(L'a', bad[0]);
    EXPECT_EQ(0xFFFD, bad[1]);
    EXPECT_EQ(L'b', bad[2]);
}

TEST(StringToChar, CopiesWithTerminator) {
    char* empty = stringToChar("");
    EXPECT_EQ('\0', empty[0]);
    delete[] empty;
    char* copy = stringToChar("C:\\a b");
    EXPECT_STREQ("C:\\a b", copy);
    delete[] copy;
}

TEST(NarrowWiden, AlwaysTerminated) {
    std::string n;
    narrow(L"plain ascii", n);
    EXPECT_EQ("plain ascii", n);
    WideText w;
    widen("plain ascii", w);
    EXPECT_EQ(L"plain ascii", w);
    // In the "C" locale a Japanese character cannot be converted: the result
    // ends where the conversion stopped instead of running into garbage.
    std::setlocale(LC_ALL, "C");
    narrow(WideText(L"ab") + static_cast<wchar_t>(0x65E5) + L"cd", n);
    EXPECT_LE(n.size(), 2u);
    EXPECT_EQ(std::string::npos, n.find('\xCC'));
    narrow(L"", n);
    EXPECT_EQ("", n);
    widen("", w);
    EXPECT_EQ(L"", w);
}

TEST(Files, ExistsAndCreate) {
    std::string dir = makeTempDir();
    std::string file = dir + "file.txt";
    char* path = stringToChar(file);
    EXPECT_EQ(0, fileExists(path));
    writeFile(file, "previous content that is longer");
    EXPECT_EQ(1, fileExists(path));
    EXPECT_EQ(1, createFile(path));
    EXPECT_EQ("123456789", readFile(file));
    delete[] path;

    makeDir(dir + "debug");
    char* subdir = stringToChar(dir + "debug");
    EXPECT_EQ(0, fileExists(subdir)) << "a directory is not a marker file";
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, createFile(subdir));
    EXPECT_EQ("cannot open\n", testing::internal::GetCapturedStdout());
    delete[] subdir;
}

// Only where a box can be shown and someone dismisses it: the black-box
// harness runs this with a display and its watcher.
std::vector<std::string> boxesSeen;

TEST(MessageBoxes, AsciiBoxReturnsWhenDismissed) {
    if (std::getenv("LAUNCHER_SHOW_BOXES") == NULL) GTEST_SKIP() << "needs a display and a watcher";
    // Both return once dismissed; the wide one's text reaches the log too.
    OutputWatcher watcher = {[](const std::string& text, bool utf8) { if (utf8) boxesSeen.push_back(text); }, NULL};
    watchOutput(watcher);
    MessageBox2("CloseHandle(hThread)");
    MessageBox2(std::string("\xE6\x9B\xB4\xE6\x96\xB0"));
    watchOutput(OutputWatcher{NULL, NULL});
    EXPECT_EQ(std::vector<std::string>{"message box: \xE6\x9B\xB4\xE6\x96\xB0"}, boxesSeen);
}

}  // namespace
