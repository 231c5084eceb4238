#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "apppaths.h"
#include "argutil.h"
#include "classarchive.h"
#include "main.h"
#include "pathconst.h"
#include "procutil.h"
#include "singleinstance.h"
#include "testutil.h"

namespace {

typedef std::vector<std::string> Args;

TEST(SplitCommandLine, MicrosoftRuntimeRules) {
    struct Case { const char* line; Args expected; };
    const Case cases[] = {
        {"", {}},
        {"   ", {}},
        {"java  -Xmx512m -jar app.jar", {"java", "-Xmx512m", "-jar", "app.jar"}},
        {"\"C:\\Program Files\\j.exe\" -jar a.jar", {"C:\\Program Files\\j.exe", "-jar", "a.jar"}},
        {"j \"a b\" c", {"j", "a b", "c"}},
        {"j a\"b c\"d", {"j", "ab cd"}},
        {"j \\\"quoted\\\"", {"j", "\"quoted\""}},
        {"j a\\\\\"b c\"", {"j", "a\\b c"}},
        {"j C:\\dir\\ x", {"j", "C:\\dir\\", "x"}},
        {"j \"a\"\"b\"", {"j", "a\"b"}},
        {"j \"\"", {"j", ""}},
        {"j\ta\tb", {"j", "a", "b"}},
        {"j \"unclosed arg", {"j", "unclosed arg"}},
        // The program name takes no escapes: a backslash before a quote stays.
        {"\"C:\\dir\\\" x", {"C:\\dir\\", "x"}},
        // Quoted parts anywhere in the program name; it ends at a blank outside them.
        {"C:\\\"Program Files\"\\j.exe x", {"C:\\Program Files\\j.exe", "x"}},
        {"\"a b\"c d", {"a bc", "d"}},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, splitCommandLine(c.line)) << c.line;
}

// A second start's request, as the application reads it on its standard input.
TEST(RequestLine, EncodesEachFieldAndReadsItBack) {
    struct Case { Args fields; const char* line; };
    const Case cases[] = {
        {{"C:\\Users\\taro", "a b.txt"}, "C:\\\\Users\\\\taro\ta b.txt\n"},
        {{"/home/taro", "x\ty", "two\nlines\r"}, "/home/taro\tx\\ty\ttwo\\nlines\\r\n"},
        {{"/", "", "日本語.txt"}, "/\t\t日本語.txt\n"},
        {{"/"}, "/\n"},
        {{"", "\\t"}, "\t\\\\t\n"},
    };
    for (const Case& c : cases) {
        std::string line = requestLine(c.fields);
        EXPECT_EQ(c.line, line);
        Args back;
        EXPECT_TRUE(requestFields(line.substr(0, line.size() - 1), back)) << line;
        EXPECT_EQ(c.fields, back) << line;
    }
}

TEST(RequestLine, WhatIsNoRequestIsRefused) {
    const char* refused[] = {
        "", "a\\x", "a\\", "a\rb", "a\nb", "bad \xff byte", "overlong \xc0\xaf",
    };
    for (const char* line : refused) {
        Args fields;
        EXPECT_FALSE(requestFields(line, fields)) << line;
    }
    Args fields;
    EXPECT_FALSE(requestFields(std::string("nul\0b", 5), fields));
}

TEST(RequestQueue, BoundsAnswersAndCutLines) {
    std::string queue;
    std::string line = requestLine({"/", "a"});
    EXPECT_EQ("queued 42\n", takeRequest(line, queue, 42));
    EXPECT_EQ(line, queue);
    // No request: no answer at all, and nothing queued.
    for (const std::string& junk : {std::string("no line feed"), std::string("a\\q\n"), std::string("\xff\n"),
                                    std::string(REQUEST_LIMIT + 1, 'x')}) {
        EXPECT_EQ("", takeRequest(junk, queue, 42));
        EXPECT_EQ(line, queue);
    }
    // One that would take the waiting ones over the bound is dropped, and says so.
    std::string big = std::string(REQUEST_LIMIT - line.size(), 'b');
    big[big.size() - 1] = '\n';
    EXPECT_EQ("queued 0\n", takeRequest(big, queue, 0));
    EXPECT_EQ("dropped\n", takeRequest(line, queue, 0));
    EXPECT_EQ(REQUEST_LIMIT, queue.size());

    // An answer that did not reach its start takes its request back; a
    // dropped one has nothing to take back.
    std::string twice;
    takeRequest(line, twice, 1);
    std::string answer = takeRequest(line, twice, 1);
    withdrawRequest(twice, line, "dropped\n");
    EXPECT_EQ(line + line, twice);
    withdrawRequest(twice, line, answer);
    EXPECT_EQ(line, twice);

    bool queued = false;
    unsigned long pid = 1;
    EXPECT_TRUE(answerOf("queued 1234\n", queued, pid));
    EXPECT_TRUE(queued);
    EXPECT_EQ(1234UL, pid);
    EXPECT_TRUE(answerOf("dropped\n", queued, pid));
    EXPECT_FALSE(queued);
    for (const char* bad : {"queued \n", "queued 12", "queued 1x\n", "ok\n", ""}) EXPECT_FALSE(answerOf(bad, queued, pid)) << bad;

    // One instance per launcher and per user and session: two installations,
    // or two users of one server, never meet.
    std::string name = instanceName("editor", "C:\\A\\editor.exe", "user1");
    EXPECT_EQ(name, instanceName("editor", "C:\\A\\editor.exe", "user1"));
    EXPECT_NE(name, instanceName("editor", "C:\\B\\editor.exe", "user1"));
    EXPECT_NE(name, instanceName("editor", "C:\\A\\editor.exe", "user2"));
    EXPECT_EQ(0u, name.find("editor-"));

    // Windows: access denied is a copy of other rights, busy a pipe to wait
    // for; anything else, no channel yet.
    struct Failure { unsigned long error; OpenFailure failure; };
    const Failure failures[] = {{5, OpenRefused}, {231, OpenBusy}, {2, OpenAbsent}, {1450, OpenAbsent}};
    for (const Failure& f : failures) EXPECT_EQ(f.failure, openFailureOf(f.error)) << f.error;

    // A write that broke off inside a line takes that line with it.
    struct Case { size_t written, done; };
    const Case cuts[] = {{0, 0}, {2, 2}, {1, 2}, {3, 5}, {5, 5}, {9, 9}};
    for (const Case& c : cuts) EXPECT_EQ(c.done, bytesDone("a\nbc\nd\nef", c.written)) << c.written;
}

TEST(QuoteArgument, SplitterReadsBackTheSameArgument) {
    struct Case { const char* arg; const char* quoted; };
    const Case cases[] = {
        {"plain", "plain"},
        {R"(C:\dir\)", R"(C:\dir\)"},
        {R"(a\"b)", R"("a\\\"b")"},
        {"", R"("")"},
        {"a b", R"("a b")"},
        {"a\tb", "\"a\tb\""},
        {R"(say "hi")", R"("say \"hi\"")"},
        {R"(")", R"("\"")"},
        {R"(C:\my dir\)", R"("C:\my dir\\")"},
        {R"(C:\my dir\\)", R"("C:\my dir\\\\")"},
        {R"(a\\b c)", R"("a\\b c")"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.quoted, quoteArgument(c.arg)) << c.arg;
        EXPECT_EQ(Args({"j", c.arg}), splitCommandLine(std::string("j ") + quoteArgument(c.arg))) << c.arg;
    }
    EXPECT_EQ(R"( a "" "b c")", quoteArguments({"a", "", "b c"}));
    EXPECT_EQ("", quoteArguments({}));
}

TEST(ProgramLookup, TheProgramOfAJavaValue) {
    struct Case { const char* value; const char* program; };
    const Case cases[] = {
        {"java", "java"},
        {R"(C:\jre\bin\javaw.exe)", R"(C:\jre\bin\javaw.exe)"},
        {R"("C:\Program Files\Java\bin\javaw.exe")", R"(C:\Program Files\Java\bin\javaw.exe)"},
        {R"("C:\My App\javaw.exe" -Dx=y)", R"(C:\My App\javaw.exe)"},
        {"java -Dx=y", "java"},
        {"java\t-Dx=y", "java"},
        {"java  @options.txt", "java"},
        {"java ", "java"},
        // A path with blanks that names no file: never a prefix of it.
        {R"(C:\Users\taro\My App\jre\bin\javaw.exe)", ""},
        {R"(C:\Users\taro\My App\jre\bin\javaw.exe -Dx=y)", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.program, programOfJavaValue(c.value)) << c.value;
}

// What Wine cannot show: Explorer's start, and java.exe's console of its own.
TEST(Execute, JavasStandardErrorIsKeptOnlyWhereItWouldBeLost) {
    struct Case { bool output, error; unsigned subsystem; bool kept; };
    const Case cases[] = {
        {false, false, 2, true},   // javaw.exe from Explorer
        {false, false, 3, false},  // java.exe: a console window of its own shows it
        {false, false, 0, false},  // cannot tell
        {true, false, 2, false},   // a starter's redirection: not ours to change
        {false, true, 2, false},   // the debug console
        {true, true, 2, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.kept, capturesChildErrors(c.output, c.error, c.subsystem)) << c.output << c.error << c.subsystem;
}

TEST(ProgramLookup, NeverTheCurrentFolder) {
    struct Case { const char* program; PathRules rules; Args expected; };
    const Args system = {R"(C:\Windows\system32)", R"(C:\Windows\System)", R"(C:\Windows\)"};
    const std::string winPath = R"(C:\Java\bin;.;;"C:\Quoted Dir";relative\bin;\\server\share\bin)";
    const std::string posixPath = "/usr/bin::.:bin:/opt/java/bin/";
    const Case cases[] = {
        {"javaw", WindowsPaths,
         {R"(C:\App\javaw.exe)", R"(C:\Windows\system32\javaw.exe)", R"(C:\Windows\System\javaw.exe)",
          R"(C:\Windows\javaw.exe)", R"(C:\Java\bin\javaw.exe)", R"(C:\Quoted Dir\javaw.exe)",
          R"(\\server\share\bin\javaw.exe)"}},
        {"java.com", WindowsPaths,
         {R"(C:\App\java.com)", R"(C:\Windows\system32\java.com)", R"(C:\Windows\System\java.com)",
          R"(C:\Windows\java.com)", R"(C:\Java\bin\java.com)", R"(C:\Quoted Dir\java.com)",
          R"(\\server\share\bin\java.com)"}},
        // A folder part: the application's own folder, not the current one.
        {R"(jre\bin\javaw.exe)", WindowsPaths, {R"(C:\App\jre\bin\javaw.exe)"}},
        {"jre/bin/javaw", WindowsPaths, {R"(C:\App\jre/bin/javaw.exe)"}},
        {R"(.\javaw.exe)", WindowsPaths, {R"(C:\App\.\javaw.exe)"}},
        {R"(D:\jre\bin\javaw)", WindowsPaths, {R"(D:\jre\bin\javaw.exe)"}},
        {R"(\\host\jre\javaw.exe)", WindowsPaths, {R"(\\host\jre\javaw.exe)"}},
        {R"(C:\jre\bin\)", WindowsPaths, {}},
        {"", WindowsPaths, {}},
        {"java", PosixPaths, {"/usr/bin/java", "/opt/java/bin/java"}},
        {"jre/bin/java", PosixPaths, {"/app/jre/bin/java"}},
        {"/opt/jdk/bin/java", PosixPaths, {"/opt/jdk/bin/java"}},
    };
    for (const Case& c : cases) {
        bool windows = c.rules == WindowsPaths;
        Args got = programCandidates(c.program, c.rules, windows ? R"(C:\App\)" : "/app/", windows ? system : Args(),
                                     windows ? winPath : posixPath);
        EXPECT_EQ(c.expected, got) << c.program;
    }
    // Japanese Windows: folders ending in 表 (0x95 0x5C) and ソ (0x83 0x5C),
    // whose last byte is no separator.
    const std::string hyou = "\x95\x5C", so = "\x83\x5C";
    EXPECT_EQ(Args({"C:\\" + so + "\\javaw.exe", "C:\\Tools\\" + hyou + "\\javaw.exe"}),
              programCandidates("javaw", WindowsPaths, "C:\\" + so + "\\", Args(), "C:\\Tools\\" + hyou, cp932Lead));
    EXPECT_EQ(Args({"C:\\App\\" + hyou + "\\javaw.exe"}),
              programCandidates("C:\\App\\" + hyou + "\\javaw", WindowsPaths, "C:\\", Args(), "", cp932Lead));
}

// Runs the stand-in in its own folder, playing the given exit code.
struct ChildRun { int result; std::string out; };

ChildRun runStandIn(const std::string& step, const std::string& dir, int doWait = 1) {
    writeFile(dir + "fakejava.script", step + "\n");
    std::string commandLine = fakeJavaPath() + " -jar app.jar";
    testing::internal::CaptureStdout();
    int result = execute(fakeJavaPath(), &commandLine[0], dir.c_str(), doWait);
    return ChildRun{result, testing::internal::GetCapturedStdout()};
}

TEST(Execute, ResultsAndLines) {
    struct Case { const char* step; int expected; };
    std::vector<Case> cases = {{"0", 0}, {"21", 21}, {"1", 1}, {"3", 3}, {"22", 22}};
    if (std::string(fileSep) == "\\") {
        cases.push_back({"-1", -1});
        cases.push_back({"0xC0000005", -1073741819});
    } else {
        cases.push_back({"-1", 255});
        cases.push_back({"signal:9", 128 + 9});
    }
    for (const Case& c : cases) {
        std::string dir = makeTempDir();
        ChildRun run = runStandIn(c.step, dir);
        EXPECT_EQ(c.expected, run.result) << c.step;
        Args lines = linesOf(run.out);
        ASSERT_EQ(2u, lines.size()) << run.out;
        EXPECT_EQ(0u, lines[0].find("execute:processId==")) << lines[0];
        EXPECT_EQ("result=WAIT_OBJECT_0", lines[1]);
        // The child ran in the given folder with the arguments of the line.
        std::string log = readFile(dir + "fakejava.log");
        EXPECT_NE(std::string::npos, log.find("arg[1]=-jar\narg[2]=app.jar\n")) << log;
    }
}

TEST(Execute, StartFailures) {
    std::string dir = makeTempDir();
    std::string missingProgram = dir + "no-such-program -jar x";
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, execute(dir + "no-such-program", &missingProgram[0], dir.c_str(), 1));
    EXPECT_EQ("execute:createProcessResult==0\n", testing::internal::GetCapturedStdout());

    // The command line's first word is never searched for: the program is.
    std::string commandLine = fakeJavaPath();
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, execute("", &commandLine[0], dir.c_str(), 1));
    EXPECT_EQ("execute:createProcessResult==0\n", testing::internal::GetCapturedStdout());

    std::string missingDir = dir + "no-such-dir";
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, execute(fakeJavaPath(), &commandLine[0], missingDir.c_str(), 1));
    EXPECT_EQ("execute:createProcessResult==0\n", testing::internal::GetCapturedStdout());
    EXPECT_EQ("<missing>", readFile(dir + "fakejava.log")) << "nothing may have run";
}

TEST(Execute, WithoutWaiting) {
    std::string dir = makeTempDir();
    ChildRun run = runStandIn("7", dir, 0);
    EXPECT_EQ(0, run.result);
    Args lines = linesOf(run.out);
    ASSERT_EQ(1u, lines.size()) << run.out;
    EXPECT_EQ(0u, lines[0].find("execute:processId=="));
    EXPECT_TRUE(childProcess != 0) << "the child stays reachable";
    releaseChildProcess();
}

TEST(ModuleUpdate, StartsInTheCurrentFolderAndShowsNoMessage) {
    testing::internal::CaptureStdout();
    int result = moduleUpdate("no-such-program-anywhere x");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(1, result);
    EXPECT_EQ("moduleUpdate#1:commandLine=no-such-program-anywhere x\n"
              "execute:createProcessResult==0\n"
              "moduleUpdate#2:retCode=1\n", out);
}

// The launcher started again to make the class archive: the stand-in
// plays the JVM that dumps it, writing the part it is given.
TEST(ClassArchive, TheJobMakesTheArchiveInOneStep) {
    // The stand-in writes the archive it is given, then ends with its step.
    struct Case { const char* name; const char* step; bool made; };
    const Case cases[] = {{"the JVM makes it", "0", true}, {"the JVM fails after writing", "1", false}};
    for (const Case& c : cases) {
        std::string dir = makeTempDir();
        std::string archive = dir + "launcher.jsa", list = archive + ".1.classlist", job = archive + ".1.job";
        std::string part = "launcher.jsa." + std::to_string(processId()) + ".part";
        // The making's own list from its start: an ended making's is cleared away.
        std::string ownList = archive + "." + std::to_string(processId()) + ".classlist";
        setModulePaths(dir + "launcher", nativePathRules);  // the job is this launcher's
        writeFile(dir + "fakejava.script", std::string(c.step) + "\n");
        writeFile(list, "java/lang/Object\n");
        writeFile(dir + "app.jar", "the application");
        writeFile(job, "java=" + fakeJavaPath() + "\nversion=17\ndir=" + dir + "\nclasslist=" + list +
                           "\narchive=" + archive + "\nclasspath=app.jar\nfile=" + dir + "app.jar\n");
#ifdef _WIN32
        _putenv_s("LAUNCHER_CLASS_ARCHIVE_JOB", job.c_str());
#else
        setenv("LAUNCHER_CLASS_ARCHIVE_JOB", job.c_str(), 1);
#endif
        int status = runClassArchiveJob();
#ifdef _WIN32
        _putenv_s("LAUNCHER_CLASS_ARCHIVE_JOB", "");
#else
        unsetenv("LAUNCHER_CLASS_ARCHIVE_JOB");
#endif
        EXPECT_EQ(c.made ? 0 : 1, status) << c.name;
        EXPECT_EQ(c.made ? "archived by fakejava\n" : "<missing>", readFile(archive)) << c.name;
        FileFacts jar = fileFacts(dir + "app.jar");
        EXPECT_EQ(c.made ? dir + "app.jar\t15\t" + std::to_string(jar.time) + "\n" : "<missing>",
                  readFile(archive + ".record")) << c.name;
        // Nothing of the making stays behind, made or not.
        for (const std::string& left : {list, ownList, job, dir + part, dir + part + ".record"})
            EXPECT_FALSE(pathExists(left)) << c.name << ": " << left;
        std::string log = readFile(dir + "fakejava.log");
        EXPECT_NE(std::string::npos, log.find("arg[1]=-Xshare:dump\narg[2]=-XX:ActiveProcessorCount=1\n"
                                              "arg[3]=-XX:+UseG1GC\narg[4]=-XX:SharedClassListFile=" + ownList +
                                              "\narg[5]=-XX:SharedArchiveFile=" + archive + "." +
                                              std::to_string(processId()) + ".part\narg[6]=-cp\narg[7]=app.jar\n"))
            << log;
    }
}

TEST(UpdateLoop, HandlesDoNotGrowOverManyCycles) {
    // A handle lost in every cycle shows as 50, ten times the tolerance;
    // more cycles cost minutes under Wine and find no more.
    const int cycles = 50;
    std::string dir = makeTempDir();
    makeDir(dir + "updater");
    setModulePaths(dir + "launcher", nativePathRules);
    writeFile(dir + "boot.xml", "<boot><item key='java' value='" + fakeJavaPath() + "'/><item key='-jar' value='app.jar'/></boot>");
    testing::internal::CaptureStdout();
    readBootXml(dir + "boot.xml");
    testing::internal::GetCapturedStdout();

    // One cycle first, so that whatever the first start opens for good is
    // already counted.
    writeFile(dir + "fakejava.script", "21 0\n");
    writeFile(dir + "updater/fakejava.script", "0\n");
    testing::internal::CaptureStdout();
    runUpdateLoop();
    testing::internal::GetCapturedStdout();
    long before = openHandleCount();

    std::string mainScript, updaterScript;
    for (int i = 0; i < cycles; ++i) {
        mainScript += "21 ";
        updaterScript += "0 ";
    }
    writeFile(dir + "fakejava.script", mainScript + "0\n");
    writeFile(dir + "updater/fakejava.script", updaterScript + "\n");
    testing::internal::CaptureStdout();
    runUpdateLoop();
    std::string out = testing::internal::GetCapturedStdout();
    long after = openHandleCount();

    Args lines = linesOf(out);
    EXPECT_EQ(static_cast<size_t>((2 * cycles + 1) * 5), lines.size());
    EXPECT_EQ("launchJava:retCode=0", lines.back());
    EXPECT_LT(after - before, 5) << "before " << before << ", after " << after;
    releaseChildProcess();
}

}  // namespace

TEST(Background, AJobThatWouldKillTheMakingDecidesHowItStarts) {
#ifdef _WIN32
    const unsigned long breakaway = JOB_OBJECT_LIMIT_BREAKAWAY_OK, silent = JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK,
                        kill = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
#else
    const unsigned long breakaway = 0x0800, silent = 0x1000, kill = 0x2000;
#endif
    struct Case { const char* name; bool inJob; unsigned long flags; JobStart how; };
    const Case cases[] = {
        {"no job", false, kill, StartPlainly},
        {"a job that lets children out by itself", true, silent | kill, StartPlainly},
        {"a job that allows breaking away (Windows Terminal's, Task Scheduler's)", true, breakaway | kill,
         StartBreakingAway},
        {"a job that kills its processes and lets none out", true, kill, StartNot},
        {"a job that only counts or limits", true, 0x0008, StartPlainly},
    };
    for (const Case& c : cases) EXPECT_EQ(c.how, jobStartOf(c.inJob, c.flags)) << c.name;
}
