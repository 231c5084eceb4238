#include <gtest/gtest.h>

#include <boost/property_tree/xml_parser.hpp>
#include <stdexcept>
#ifndef _WIN32
#include <sys/stat.h>
#else
#include <windows.h>
#endif

#include "appid.h"
#include "apppaths.h"
#include "baseutil.h"
#include "classarchive.h"
#include "inflate.h"
#include "javasearch.h"
#ifdef _WIN32
#include "baseutil_win.h"
#else
#include "javasearch_posix.h"
#endif
#include "main.h"
#include "pathconst.h"
#include "procutil.h"
#include "testutil.h"
#include "useroptions.h"
#include "xmlutil.h"
#include "zipcheck.h"

using boost::property_tree::ptree;

namespace {

// Loads a boot definition written to a file, as the launcher does.
ptree load(const std::string& xml) {
    std::string file = makeTempDir() + "boot.xml";
    writeFile(file, xml);
    testing::internal::CaptureStdout();
    ptree pt;
    try {
        pt = readXmlFile(file);
    } catch (...) {
        testing::internal::GetCapturedStdout();
        throw;
    }
    EXPECT_EQ(file + "\n", testing::internal::GetCapturedStdout()) << "the bare path line";
    return pt;
}

std::string lookupError(const std::string& xml, const std::string& key) {
    try {
        getXmlValue(load(xml), key);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<no error>";
}

TEST(BootLookup, ItemRules) {
    struct Case { const char* name; const char* xml; const char* key; const char* expected; };
    const Case cases[] = {
        {"last of duplicates wins",
         "<boot><item key='-Xmx' value='256m'/><item key='-Xmx' value='512m'/></boot>", "-Xmx", "512m"},
        {"keys are case-sensitive", "<boot><item key='Java' value='x'/></boot>", "java", ""},
        {"keys are not trimmed", "<boot><item key=' java' value='x'/></boot>", "java", ""},
        {"values keep their blanks", "<boot><item key='-Xmx' value=' 512m '/></boot>", "-Xmx", " 512m "},
        {"entities are decoded",
         "<boot><item key='java' value='&quot;C:\\a b\\j.exe&quot; &amp;&lt;&gt;&apos;&#65;&#x42;'/></boot>",
         "java", "\"C:\\a b\\j.exe\" &<>'AB"},
        {"value without key asked for is fine",
         "<boot><item key='main'/><item key='java' value='j'/></boot>", "java", "j"},
        {"Item is another element", "<boot><Item/><item key='java' value='j'/></boot>", "java", "j"},
        {"nested items are not seen",
         "<boot><group><item key='java' value='nested'/></group></boot>", "java", ""},
        {"comments change nothing",
         "<boot><item key='java' value='a'/><!-- c --><item key='x' value='y'/></boot>", "java", "a"},
        {"absent key gives empty", "<boot><item key='java' value='j'/></boot>", "main", ""},
        {"empty boot", "<boot/>", "java", ""},
        {"a BOM and a declaration are skipped",
         "\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-8'?>\n<boot><item key='java' value='j'/></boot>",
         "java", "j"},
        {"bytes pass unchanged", "<boot><item key='args' value='\xE6\x97\xA5 \xFF'/></boot>", "args",
         "\xE6\x97\xA5 \xFF"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, getXmlValue(load(c.xml), c.key)) << c.name;
}

TEST(BootLookup, LibraryErrors) {
    EXPECT_EQ("No such node (<xmlattr>.key)",
              lookupError("<boot><item key='java' value='j'/><item value='x'/></boot>", "console"));
    EXPECT_EQ("No such node (<xmlattr>.value)", lookupError("<boot><item key='main'/></boot>", "main"));
    EXPECT_EQ("No such node (boot)", lookupError("<config><boot/></config>", "java"));
    EXPECT_EQ("No such node (boot)", lookupError("", "java"));
}

// The error text from the file name on, without the temporary folder.
std::string tail(const std::string& what) {
    std::string::size_type at = what.find("boot.xml");
    return at == std::string::npos ? what : what.substr(at);
}

TEST(BootLookup, FileErrors) {
    std::string dir = makeTempDir();
    testing::internal::CaptureStdout();
    try {
        readXmlFile(dir + "missing.xml");
        ADD_FAILURE() << "no error for a missing file";
    } catch (const boost::property_tree::xml_parser_error& e) {
        EXPECT_EQ(dir + "missing.xml: cannot open file", std::string(e.what()));
    }
    testing::internal::GetCapturedStdout();

    // The reader's line number: one more than the newlines before the fault.
    EXPECT_EQ("boot.xml(3): expected =",
              tail(lookupError("<boot>\n<item key='a' value='b'/>\n<item key/>\n</boot>\n", "a")));
    EXPECT_EQ("boot.xml(4): unexpected end of data",
              tail(lookupError("<boot>\n<item key='a' value='b'>\n</boot>\n", "a")));
}

TEST(CommandLine, Assembly) {
    struct Case {
        const char* name;
        const char* java; const char* xmn; const char* xms; const char* xmx;
        const char* cp; const char* jar; const char* args; const char* main;
        const char* jvmOptions; const char* expected;
    };
    const Case cases[] = {
        {"no items", "", "", "", "", "", "", "", "", "", " "},
        {"java only", "java", "", "", "", "", "", "", "", "", "java "},
        {"java and -Xmx", "java", "", "", "512m", "", "", "", "", "", "java  -Xmx512m"},
        {"-cp and main", "java", "", "", "", "lib\\a.jar", "", "", "app.Main", "", "java  -cp lib\\a.jar app.Main"},
        {"args before main", "java", "", "", "", "", "", "-Dx=1 --flag", "app.Main", "", "java  -Dx=1 --flag app.Main"},
        {"one-blank -Xmx", "java", "", "", " ", "", "", "", "", "", "java  -Xmx "},
        {"all memory options in order", "j", "8m", "64m", "512m", "", "", "", "", "", "j  -Xmn8m -Xms64m -Xmx512m"},
        {"-cp before -jar", "j", "", "", "", "a.jar", "b.jar", "", "", "", "j  -cp a.jar -jar b.jar"},
        {"worked example", "C:\\app\\jre\\bin\\javaw.exe", "", "64m", "512m", "", "app.jar", "", "",
         "", "C:\\app\\jre\\bin\\javaw.exe  -Xms64m -Xmx512m -jar app.jar"},
        {"placeholders elsewhere stay", "j", "", "", "", "${APP_DIR}lib", "${APP_DIR}a.jar", "${PARENT_DIR}x", "",
         "", "j  -cp ${APP_DIR}lib -jar ${APP_DIR}a.jar ${PARENT_DIR}x"},
        // The vendor's JVM options: after the memory options, before -cp and -jar.
        {"jvmOptions before -jar", "j", "", "", "512m", "", "app.jar", "a", "", "-Dfile.encoding=UTF-8 -splash:s.png",
         "j  -Xmx512m -Dfile.encoding=UTF-8 -splash:s.png -jar app.jar a"},
        {"jvmOptions before -cp", "j", "", "", "", "lib/*", "", "", "app.Main", "--add-opens java.base/java.lang=ALL-UNNAMED",
         "j  --add-opens java.base/java.lang=ALL-UNNAMED -cp lib/* app.Main"},
        {"jvmOptions as written, quotes too", "j", "", "", "", "", "app.jar", "", "", "\"-Dx=a b\"  ",
         "j  \"-Dx=a b\"   -jar app.jar"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, buildCommandLine(c.java, c.xmn, c.xms, c.xmx, c.cp, c.jar, c.args, c.main, c.jvmOptions))
            << c.name;
}

TEST(CommandLine, Placeholders) {
    EXPECT_EQ("C:\\app\\jre C:\\app\\x", replacePlaceholders("${APP_DIR}jre ${APP_DIR}x", "C:\\app\\", "C:\\app\\"));
    EXPECT_EQ("/p/jre", replacePlaceholders("${PARENT_DIR}jre", "/a/", "/p/"));
    EXPECT_EQ("${app_dir}", replacePlaceholders("${app_dir}", "X", "Y"));
}

TEST(CommandLine, TheUsersOwnOptions) {
    // The file's lines: trimmed, CR LF as LF, blank lines and comments passed over.
    EXPECT_EQ((std::vector<std::string>{"-Xmx2g", "-Dname=My App", "-Dx=#y"}),
              userOptionLines("# more memory\r\n  -Xmx2g \r\n\r\n\t-Dname=My App\n   # indented\n-Dx=#y"));
    EXPECT_EQ(std::vector<std::string>{"-Xmx2g"}, userOptionLines("\xEF\xBB\xBF-Xmx2g\r\n"));
    struct Case { const char* option; const char* fault; };
    const char* const other = "it would change which program or classes run";
    const Case cases[] = {
        {"-Xmx2g", ""}, {"-Dfile.encoding=UTF-8", ""}, {"-XX:+UseZGC", ""}, {"-Djava.class.pathology=x", ""},
        {"Xmx2g", "it is no JVM option: those begin with -"}, {"@options.txt", "it is no JVM option: those begin with -"},
        {"-jar", other}, {"-cp", other}, {"-classpath", other}, {"--class-path=lib", other},
        {"--module-path", other}, {"--module=app/Main", other}, {"-XX:Flags=.hotspotrc", other},
        {"-XX:VMOptionsFile=more", other}, {"-javaagent:spy.jar", other}, {"-agentlib:jdwp=transport", other},
        {"-Xbootclasspath/a:x.jar", other}, {"-Djava.class.path=x", other}, {"-version", other}, {"--help", other},
        {"-XX:SharedArchiveFile=a.jsa", "the launcher sets it itself"}, {"-Xshare:off", "the launcher sets it itself"},
        {"-XX:ErrorFile=x", "the launcher sets it itself"}, {"-Dx=\x01", "it holds a control character"},
        {"-jar other.jar", "one option a line: only a -D property's value may hold a blank"},
        {"-Xmx2g -Xss4m", "one option a line: only a -D property's value may hold a blank"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.fault, userOptionFault(c.option)) << c.option;
}

TEST(AppId, RulesAndWindowProperties) {
    struct Case { std::string id; const char* fault; };
    const Case cases[] = {
        {"Vendor.Application", ""}, {"Vendor.Application.Viewer.2", ""}, {"My-Co_1.App", ""},
        {"", "it is empty"}, {"Application", "it has no CompanyName.ProductName form"},
        {"Vendor.My App", "it holds a blank"}, {"Vendor..App", "a section between dots is empty"},
        {"Vendor.App.", "a section between dots is empty"}, {".Vendor.App", "a section between dots is empty"},
        {"Vendor.Appli\xC3\xA9", "it holds a character other than ASCII letters, digits, -, _ and ."},
        {"Vendor.\"App\"", "it holds a character other than ASCII letters, digits, -, _ and ."},
        {"V." + std::string(126, 'a'), ""}, {"V." + std::string(127, 'a'), "it is longer than 128 characters"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.fault, appIdFault(c.id)) << c.id;

    // The relaunch command, its name and icon, then the ID last.
    std::vector<WindowProperty> p = appIdWindowProperties(L"C:\\Program Files\\My App\\MyApp.EXE", "Vendor.App");
    ASSERT_EQ(4u, p.size());
    EXPECT_EQ(RELAUNCH_COMMAND, p[0].id);
    EXPECT_TRUE(p[0].value == L"\"C:\\Program Files\\My App\\MyApp.EXE\"");
    EXPECT_EQ(RELAUNCH_NAME, p[1].id);
    EXPECT_TRUE(p[1].value == L"MyApp");
    EXPECT_EQ(RELAUNCH_ICON, p[2].id);
    EXPECT_TRUE(p[2].value == L"C:\\Program Files\\My App\\MyApp.EXE,0");
    EXPECT_EQ(APP_ID_PROPERTY, p[3].id);
    EXPECT_TRUE(p[3].value == L"Vendor.App");
    EXPECT_TRUE(appIdWindowProperties(L"/opt/app/launcher", "Vendor.App")[1].value == L"launcher");
}

TEST(CommandLine, QuotingTheJavaPath) {
    const char* spaced = "C:\\Program Files\\app\\jre\\bin\\javaw.exe";
    EXPECT_EQ(std::string("\"") + spaced + "\"", quoteJavaPath(spaced, 1));
    EXPECT_EQ(spaced, quoteJavaPath(spaced, 0)) << "not a file: may carry its own options";
    EXPECT_EQ("\"C:\\a b\\j.exe\"", quoteJavaPath("\"C:\\a b\\j.exe\"", 1)) << "already quoted";
    EXPECT_EQ("C:\\ab\\j.exe", quoteJavaPath("C:\\ab\\j.exe", 1));
    EXPECT_EQ("", quoteJavaPath("", 0));
}

TEST(ReadBootXml, AssignsCommandLineAndJarAtTheEnd) {
    std::string dir = makeTempDir();
    setModulePaths(dir + "launcher", nativePathRules);
    std::string boot = dir + "boot.xml";
    writeFile(boot,
              "<boot><item key='console' value='n'/><item key='java' value='${APP_DIR}jre ${PARENT_DIR}x'/>"
              "<item key='-Xms' value='64m'/><item key='-jar' value='${APP_DIR}app.jar'/>"
              "<item key='passArgs' value='Y'/></boot>");
    javaCommandLine = "before";
    passArgs = 0;
    jar2 = "before";
    testing::internal::CaptureStdout();
    readBootXml(boot);
    EXPECT_EQ(boot + "\nconsole=n\n", testing::internal::GetCapturedStdout());
    EXPECT_EQ(dir + "jre " + dir + "x  -Xms64m -jar ${APP_DIR}app.jar", javaCommandLine);
    EXPECT_EQ("${APP_DIR}app.jar", jar2);
    EXPECT_EQ(1, passArgs);

    // A failing lookup leaves all three as they were.
    writeFile(boot, "<boot><item key='console' value='n'/><item key='java' value='j'/><item key='main'/></boot>");
    testing::internal::CaptureStdout();
    EXPECT_THROW(readBootXml(boot), std::exception);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ("${APP_DIR}app.jar", jar2);
    EXPECT_EQ(1, passArgs);
    EXPECT_EQ(dir + "jre " + dir + "x  -Xms64m -jar ${APP_DIR}app.jar", javaCommandLine);
}

TEST(ReadBootXml, QuotesAnExistingJavaWithBlanks) {
    std::string dir = makeTempDir();
    makeDir(dir + "Program Files");
    writeFile(dir + "Program Files/java", "");
    setModulePaths(dir + "launcher", nativePathRules);
    std::string boot = dir + "boot.xml";
    writeFile(boot, "<boot><item key='java' value='${APP_DIR}Program Files/java'/></boot>");
    testing::internal::CaptureStdout();
    readBootXml(boot);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ("\"" + dir + "Program Files/java\" ", javaCommandLine);
    // The program to start is the whole path, never its first word.
    EXPECT_EQ(dir + "Program Files/java", javaProgram);
}

TEST(CommandLine, ClassArchiveOptions) {
    // The application's run maps the archive, or records its classes into
    // a file made for it; nothing when there is neither.
    struct Case { int version; const char* archive; bool exists; const char* list; const char* options; };
    const Case cases[] = {
        {11, "/a/app.jsa", false, "/a/app.jsa.7.classlist", ""},
        {12, "/a/app.jsa", true, "", ""},
        {13, "/a/app.jsa", false, "/a/app.jsa.7.classlist", " -Xlog:cds*=off -XX:DumpLoadedClassList=/a/app.jsa.7.classlist"},
        {17, "/a/app.jsa", true, "", " -Xlog:cds*=off -XX:SharedArchiveFile=/a/app.jsa"},
        {17, "C:\\Program Files\\My App\\app.jsa", true, "",
         " -Xlog:cds*=off \"-XX:SharedArchiveFile=C:\\Program Files\\My App\\app.jsa\""},
        {17, "/a/app.jsa", false, "", ""},
        {21, "/a/app.jsa", false, "/a/l", " -Xlog:cds*=off -XX:DumpLoadedClassList=/a/l"},
        {25, "/a/app.aot", false, "/a/l", " -Xlog:cds*=off -Xlog:aot*=off -XX:DumpLoadedClassList=/a/l"},
        {26, "/a/app.aot", true, "/a/l", " -Xlog:cds*=off -Xlog:aot*=off -XX:SharedArchiveFile=/a/app.aot"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.options, classArchiveOptions(c.version, c.archive, c.exists, c.list)) << c.version << " " << c.archive;

    // The archive is made in a JVM of its own, for the application's class path.
    EXPECT_EQ("/jdk/bin/java -Xshare:dump -XX:ActiveProcessorCount=1 -XX:+UseG1GC -XX:SharedClassListFile=/a/l "
              "-XX:SharedArchiveFile=/a/app.jsa.9.part -cp app.jar",
              classArchiveDumpCommand("/jdk/bin/java", 17, "/a/l", "/a/app.jsa.9.part", "app.jar"));
    EXPECT_EQ("\"C:\\Program Files\\jdk\\bin\\javaw.exe\" -Xshare:dump -XX:ActiveProcessorCount=1 -XX:+UseG1GC "
              "-XX:SharedClassListFile=l "
              "-XX:SharedArchiveFile=a.part -XX:+AOTClassLinking -cp \"lib\\a b.jar;lib\\*\"",
              classArchiveDumpCommand("C:\\Program Files\\jdk\\bin\\javaw.exe", 25, "l", "a.part", "lib\\a b.jar;lib\\*"));

    EXPECT_EQ("MyApp.jsa", classArchiveName("MyApp.exe", "C:\\MyApp\\", false, 17));
    EXPECT_EQ("launcher.aot", classArchiveName("launcher", "/opt/app/", false, 25));
    // In the user's folder, two applications of the same name keep apart.
    std::string one = classArchiveName("launcher", "/opt/one/", true, 17);
    std::string two = classArchiveName("launcher", "/opt/two/", true, 17);
    EXPECT_EQ(0u, one.find("launcher-")) << one;
    EXPECT_NE(one, two);
    EXPECT_EQ(one, classArchiveName("launcher", "/opt/one/", true, 17));
    // Made under other JVM options, an archive is another file; none, today's name.
    std::string utf8 = classArchiveName("launcher", "/opt/one/", false, 17, "-Dfile.encoding=UTF-8");
    EXPECT_EQ(0u, utf8.find("launcher-")) << utf8;
    EXPECT_NE(utf8, classArchiveName("launcher", "/opt/one/", false, 17, "-Dfile.encoding=MS932"));
    EXPECT_EQ("launcher.jsa", classArchiveName("launcher", "/opt/one/", false, 17, ""));
}

TEST(ClassArchive, TheRecordOfWhatItIsFor) {
    auto facts = [](const char* path, bool exists, unsigned long long size, long long time) {
        FileFacts f = {path, exists, size, time};
        return f;
    };
    std::string made = classArchiveRecord({facts("/jdk/bin/java", true, 100, 5), facts("/jdk/release", true, 900, 5),
                                           facts("/app/app.jar", true, 4000, 7)}, {});
    EXPECT_EQ("/jdk/bin/java\t100\t5\n/jdk/release\t900\t5\n/app/app.jar\t4000\t7\n", made);
    struct Case { const char* name; std::vector<FileFacts> now; const char* change; };
    const Case cases[] = {
        {"the same", {facts("/jdk/bin/java", true, 100, 5), facts("/jdk/release", true, 900, 5),
                      facts("/app/app.jar", true, 4000, 7)}, ""},
        {"a jar touched", {facts("/jdk/bin/java", true, 100, 5), facts("/jdk/release", true, 900, 5),
                           facts("/app/app.jar", true, 4000, 8)}, "/app/app.jar changed"},
        {"another runtime", {facts("/jdk/bin/java", true, 100, 5), facts("/jdk/release", true, 901, 9),
                             facts("/app/app.jar", true, 4000, 7)}, "/jdk/release changed"},
        {"a jar gone", {facts("/jdk/bin/java", true, 100, 5), facts("/jdk/release", true, 900, 5),
                        facts("/app/app.jar", false, 0, 0)}, "/app/app.jar is gone"},
        {"a jar more", {facts("/jdk/bin/java", true, 100, 5), facts("/jdk/release", true, 900, 5),
                        facts("/app/app.jar", true, 4000, 7), facts("/app/lib/b.jar", true, 1, 1)},
         "/app/lib/b.jar is new"},
        {"a jar fewer", {facts("/jdk/bin/java", true, 100, 5), facts("/jdk/release", true, 900, 5)},
         "/app/app.jar is no longer used"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.change, classArchiveRecordChange(made, classArchiveRecord(c.now, {}))) << c.name;
    // An archive without a record (made by an older launcher) is made anew.
    EXPECT_EQ("no record of what it was made for", classArchiveRecordChange("", made));
    // A jar that a manifest named: a start takes it from the record.
    FileFacts dep = facts("/app/lib/dep.jar", true, 30, 3);
    std::string withDep = classArchiveRecord({facts("/app/app.jar", true, 4000, 7)}, {dep});
    EXPECT_EQ("/app/app.jar\t4000\t7\n/app/lib/dep.jar\t30\t3\tClass-Path\n", withDep);
    EXPECT_EQ(std::vector<std::string>{"/app/lib/dep.jar"}, namedInRecord(withDep));
    dep.time = 4;
    EXPECT_EQ("/app/lib/dep.jar changed",
              classArchiveRecordChange(withDep, classArchiveRecord({facts("/app/app.jar", true, 4000, 7)}, {dep})));

    // The class path as Java runs it: the jar alone, else each entry, a
    // folder's "*" standing for its jars.
    auto jars = [](const std::string& dir) { return std::vector<std::string>{dir + "a.jar", dir + "b.JAR"}; };
    typedef std::vector<std::string> Files;
    EXPECT_EQ(Files({"app.jar"}), classPathFiles("lib/*", "app.jar", ':', jars));
    EXPECT_EQ(Files({"classes", "lib/a.jar", "lib/b.JAR", "x.jar"}), classPathFiles("classes:lib/*::x.jar", "", ':', jars));
    EXPECT_EQ(Files({"lib\\a.jar", "lib\\b.JAR", "a.jar", "b.JAR"}), classPathFiles("lib\\*;*", "", ';', jars));
    EXPECT_EQ(Files({"lib/x*"}), classPathFiles("lib/x*", "", ':', jars));
}

TEST(ClassArchive, TheJarsThatAManifestNames) {
    // A manifest as jar tools pack it: stored, in the fixed code, in a code
    // of its own; python3's zlib packed these.
    const std::string manifest = "Manifest-Version: 1.0\r\nMain-Class: Main\r\nClass-Path: lib/a.jar\r\n\r\n";
    std::string twelve = "Manifest-Version: 1.0\r\nClass-Path:";
    for (int i = 0; i < 11; ++i) twelve += std::string(" lib/") + char('a' + i % 26) + char('a' + i * 7 % 26) + ".jar";
    twelve += "\r\n";
    const std::string stored = std::string("\x01\x42\x00\xbd\xff", 5) + manifest;
    static const char fixedBytes[] =
        "\xf3\x4d\xcc\xcb\x4c\x4b\x2d\x2e\xd1\x0d\x4b\x2d\x2a\xce\xcc\xcf\xb3\x52\x30\xd4\x33\xe0\xe5\xf2\x4d\xcc\xcc\xd3"
        "\x75\xce\x49\x2c\x2e\xb6\x52\x00\xb1\x79\xb9\xc0\x1c\xdd\x80\xc4\x92\x0c\x2b\x85\x9c\xcc\x24\xfd\x44\xbd\xac\xc4"
        "\x22\x5e\x2e\x5e\x2e\x00";
    const std::string fixed(fixedBytes, sizeof(fixedBytes) - 1);  // it holds zeros
    const std::string dynamic =
        "\x3d\xc6\xbd\x0e\x40\x30\x14\x06\xd0\x5d\xe2\x1d\xfa\x02\xf5\xb3\x76\x35\x4b\x4c\xf6\x8b\x5b\xbd\xd5\x68\xb8\x22"
        "\x1e\x5f\x18\xbe\x33\x9d\x9e\x76\xf1\xac\x97\x1d\xf9\x54\xc9\xbb\x33\x6d\xd5\x94\x45\x97\x48\xd5\x0e\x74\x05\x67"
        "\x92\x4c\x35\x51\x15\xe9\xfc\x3b\x05\x74\xce\xe8\x72\xa3\x3c\xa3\x3e\xa2\xeb\x81\x86\x07\x15\x46\x63\x42\x37\xfd"
        "\x5a\x16\x2f";
    struct Packed { const char* name; std::string data; size_t limit; const char* text; };
    const Packed packed[] = {
        {"stored", stored, 4096, manifest.c_str()},
        {"fixed code", fixed, 4096, manifest.c_str()},
        {"a code of its own", dynamic, 4096, twelve.c_str()},
        {"cut short", dynamic.substr(0, 60), 4096, NULL},
        {"stored, its length damaged", std::string("\x01\x42\x00\xbd\xfe", 5) + manifest, 4096, NULL},
        {"larger than allowed", fixed, 40, NULL},
        {"nothing", "", 4096, NULL},
        // zlib refuses an incomplete code whose single code is longer than one bit.
        {"one literal code of two bits", std::string("\x05\xc0\x81\x00\x00\x00\x00\x80\x20\x7f\xeb\x03", 12), 4096, NULL},
        {"one distance code of two bits",
         std::string("\x0d\xc0\x81\x00\x00\x00\x00\x80\x20\xd6\xfc\x25\x7e\x13", 14), 4096, NULL},
    };
    for (const Packed& p : packed) {
        std::string out;
        bool unpacked = inflateData(reinterpret_cast<const unsigned char*>(p.data.data()), p.data.size(), out, p.limit);
        EXPECT_EQ(p.text != NULL, unpacked) << p.name;
        if (p.text != NULL) {
            EXPECT_EQ(p.text, out) << p.name;
        }
    }

    typedef std::vector<std::string> Files;
    struct Case { const char* manifest; PathRules rules; Files files; };
    const Case cases[] = {
        {"Main-Class: Main\nClass-Path: lib/a.jar  b%20c.jar\n", PosixPaths, {"/app/lib/a.jar", "/app/b c.jar"}},
        // A long value goes on in lines that begin with a blank.
        {"Class-Path: lib/a.j\r\n ar lib/b.jar\r\nMain-Class: Main\r\n", PosixPaths, {"/app/lib/a.jar", "/app/lib/b.jar"}},
        {"class-path: ../shared/x.jar\n", PosixPaths, {"/app/../shared/x.jar"}},
        {"Class-Path: /opt/x.jar file:/opt/y.jar file:///opt/z.jar http://host/a.jar file://host/b.jar\n", PosixPaths,
         {"/opt/x.jar", "/opt/y.jar", "/opt/z.jar"}},
        {"Class-Path: lib/a.jar file:/C:/Shared/b.jar\r\n", WindowsPaths, {"C:\\app\\lib\\a.jar", "C:\\Shared\\b.jar"}},
        // Only the main section names the class path.
        {"Main-Class: Main\n\nName: lib/\nClass-Path: lib/a.jar\n", PosixPaths, {}},
        {"Main-Class: Main\nX-Class-Path: lib/a.jar\nClass-Path:\n", PosixPaths, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.files, manifestClassPath(c.manifest, c.rules == PosixPaths ? "/app/" : "C:\\app\\", c.rules))
            << c.manifest;
}

TEST(JavaSearch, VersionReader) {
    struct Case { const char* release; int major; };
    const Case cases[] = {
        {"JAVA_VERSION=\"17\"\n", 17},
        {"IMPLEMENTOR=\"Eclipse Adoptium\"\nJAVA_VERSION=\"17.0.9\"\nOS_NAME=\"Windows\"\n", 17},
        {"JAVA_VERSION=\"1.8.0_392\"\n", 8},
        {"JAVA_VERSION=\"21-ea\"\r\n", 21},
        {"JAVA_VERSION=25", 25},                     // unquoted, no newline
        {"JAVA_RUNTIME_VERSION=\"17.0.9+9\"\n", 0},  // another key
        {"MY_JAVA_VERSION=\"11\"\nJAVA_VERSION=\"21.0.1\"\n", 21},
        {"", 0},
        {"JAVA_VERSION=\"\"\n", 0},
        {"JAVA_VERSION=\"garbled\"\n", 0},
        {"\xff\xfe J\0A\0V\0A\0", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(c.major, releaseFileVersion(c.release)) << c.release;

    // Registry key names and the minimum version value use the same reader.
    struct Name { const char* text; int major; };
    const Name names[] = {{"17", 17}, {"17.0.9.9", 17}, {"1.8", 8}, {"zulu-21", 21}, {"zulu-17-x64", 17},
                          {"1", 1}, {"abc", 0}, {"", 0}, {"99999999999", 0}};
    for (const Name& n : names) EXPECT_EQ(n.major, javaMajorVersion(n.text)) << n.text;
    EXPECT_TRUE(newerJavaVersion("17.0.10", "17.0.9"));
    EXPECT_TRUE(newerJavaVersion("11", "1.8.0_392"));
    EXPECT_FALSE(newerJavaVersion("17", "17"));
}

TEST(JavaSearch, ExecutableName) {
    struct Case { PathRules rules; const char* java; const char* name; };
    const Case cases[] = {
        {WindowsPaths, "C:\\app\\jre\\bin\\javaw.exe", "javaw.exe"},
        {WindowsPaths, "\"C:\\Program Files\\Java\\bin\\java.exe\"", "java.exe"},
        {WindowsPaths, "javaw", "javaw.exe"},
        {WindowsPaths, "", "javaw.exe"},
        {PosixPaths, "/opt/jre/bin/java", "java"},
        {PosixPaths, "", "java"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.name, javaExecutableName(c.java, c.rules)) << c.java;
}

// What Wine cannot show: a 32-bit launcher among processors and views.
TEST(JavaSearch, ProcessorsAndProgramFolders) {
    // A PE header as a linker lays it out: "MZ", e_lfanew, "PE\0\0", machine,
    // and 92 bytes on the subsystem (javaw.exe 2, java.exe 3).
    auto image = [](unsigned machine, unsigned peAt, unsigned subsystem) {
        std::string head(512, '\0');
        head[0] = 'M', head[1] = 'Z';
        head[0x3C] = static_cast<char>(peAt & 0xFF), head[0x3D] = static_cast<char>(peAt >> 8);
        head.replace(peAt, 4, std::string("PE\0\0", 4));
        head[peAt + 4] = static_cast<char>(machine & 0xFF), head[peAt + 5] = static_cast<char>(machine >> 8);
        if (peAt + 93 < head.size()) head[peAt + 92] = static_cast<char>(subsystem);
        return head;
    };
    struct Header { std::string bytes; unsigned machine, subsystem; };
    const Header headers[] = {
        {image(0x014C, 0x80, 2), 0x014C, 2}, {image(0x8664, 0x100, 3), 0x8664, 3}, {image(0xAA64, 0xF8, 2), 0xAA64, 2},
        {image(0x8664, 420, 2), 0x8664, 0},              // its subsystem lies past what was read
        {image(0x8664, 510, 2), 0, 0},                   // its header does
        {"#!/bin/sh\n" + std::string(100, ' '), 0, 0},  // no PE at all
        {std::string("MZ"), 0, 0},
    };
    for (const Header& h : headers) {
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(h.bytes.data());
        EXPECT_EQ(h.machine, peMachine(bytes, h.bytes.size()));
        EXPECT_EQ(h.subsystem, peSubsystem(bytes, h.bytes.size()));
    }

    struct Run { unsigned machine, native; bool runs; };
    const Run runs[] = {
        {0x014C, 0x014C, true}, {0x014C, 0x8664, true}, {0x014C, 0xAA64, true},
        {0x8664, 0x014C, false}, {0x8664, 0x8664, true}, {0x8664, 0xAA64, true},
        {0xAA64, 0x8664, false}, {0xAA64, 0x014C, false}, {0xAA64, 0xAA64, true},
        {0, 0x8664, true},  // cannot tell: not held against it
    };
    for (const Run& r : runs) EXPECT_EQ(r.runs, machineRunsOn(r.machine, r.native)) << r.machine << " " << r.native;
    EXPECT_EQ("ARM64", machineName(0xAA64));
    EXPECT_EQ("0x01C4", machineName(0x01C4));

    WideText x64 = L"C:\\Program Files", common = L"C:\\Program Files\\Common Files";
    EXPECT_EQ(L"C:\\Program Files\\Java\\jdk-17", withNativeProgramFolders(L"%ProgramFiles%\\Java\\jdk-17", x64, common));
    EXPECT_EQ(L"C:\\Program Files\\Java", withNativeProgramFolders(L"%PROGRAMFILES%\\Java", x64, common));
    EXPECT_EQ(L"C:\\Program Files\\Common Files\\j", withNativeProgramFolders(L"%CommonProgramFiles%\\j", x64, common));
    // Others stay for the system to expand; so does all on 32-bit Windows.
    EXPECT_EQ(L"%ProgramFiles(x86)%\\j", withNativeProgramFolders(L"%ProgramFiles(x86)%\\j", x64, common));
    EXPECT_EQ(L"%SystemDrive%\\j %ProgramFiles", withNativeProgramFolders(L"%SystemDrive%\\j %ProgramFiles", x64, common));
    EXPECT_EQ(L"%ProgramFiles%\\j", withNativeProgramFolders(L"%ProgramFiles%\\j", L"", L""));
}

TEST(ClassArchive, OnlyAJobOfItsOwnMakingIsRun) {
    const std::string sep = fileSep, app = sep + "app" + sep, cache = sep + "cache" + sep;
    const std::string archive = app + "launcher.jsa", job = archive + ".42.job";
    const std::string java = nativePathRules == WindowsPaths ? "C:\\jdk\\bin\\javaw.exe" : "/jdk/bin/java";
    const std::string good = "java=" + java + "\nversion=17\ndir=" + app + "\nclasslist=" + archive +
                             ".42.classlist\narchive=" + archive + "\nclasspath=app.jar\nfile=" + app + "app.jar\n";
    const std::vector<std::string> folders = {app, cache};
    struct Case { const char* name; std::string path, text, fault; };
    const Case cases[] = {
        {"its own", job, good, ""},
        {"in the user's folder", cache + "launcher-1a2b3c4d.aot.7.job",
         Replace(Replace(good, archive + ".42", cache + "launcher-1a2b3c4d.aot.7"), "archive=" + archive,
                 "archive=" + cache + "launcher-1a2b3c4d.aot"),
         ""},
        {"outside the folder (the variable set by hand)", sep + "tmp" + sep + "launcher.jsa.42.job", good,
         "it is not in a folder of this launcher's archives"},
        {"another launcher's", app + "other.jsa.42.job", good, "its name is not one of this launcher's jobs"},
        {"not a job's name", app + "launcher.jsa.job", good, "its name is not one of this launcher's jobs"},
        {"a foreign class list", job, Replace(good, archive + ".42.classlist", sep + "home" + sep + "notes.txt"),
         "its class list is not its own"},
        {"a foreign archive", job, Replace(good, "archive=" + archive, "archive=" + sep + "etc" + sep + "x.jsa"),
         "its archive is not the one it is named after"},
        // A jar whose name held a line break, written by an older launcher.
        {"a second java line", job, good + "java=" + sep + "tmp" + sep + "evil\n", "it names java twice"},
        {"a control character", job, Replace(good, "classpath=app.jar", "classpath=app\t.jar"),
         "its classpath holds a control character"},
        {"a relative java", job, Replace(good, "java=" + java, "java=jre" + sep + "bin" + sep + "java"),
         "its java is not an absolute path"},
        {"another application's folder", job, Replace(good, "dir=" + app, "dir=" + cache),
         "it is not for this application's folder"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.fault, classArchiveJobFault(c.path, c.text, folders, "launcher", app)) << c.name;

    // What ended makings and recordings leave, by the process that left it.
    struct Left { const char* name; unsigned long pid; };
    const Left left[] = {
        {"launcher.jsa.123.part", 123}, {"launcher.jsa.123.part.record", 123}, {"launcher.jsa.9.classlist", 9},
        {"launcher.jsa.77.job", 77}, {"launcher.jsa.record", 0}, {"launcher.jsa.start", 0},
        {"launcher.jsa.12x.part", 0}, {"launcher.jsa.12.lock", 0}, {"launcher.jsa", 0}, {"other.jsa.5.part", 0},
    };
    for (const Left& l : left) EXPECT_EQ(l.pid, leftoverProcess(l.name, "launcher.jsa")) << l.name;
}

TEST(ClassArchive, AFolderIsWritableOnlyWithoutVirtualization) {
    struct Case { bool written; Virtualization state; bool writable; };
    const Case cases[] = {
        {true, NotVirtualized, true}, {true, VirtualizationTurnedOff, true}, {false, NotVirtualized, false},
        // Into the user's VirtualStore, where Java neither looks nor may write.
        {true, StillVirtualized, false}, {false, StillVirtualized, false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.writable, writableForJava(c.written, c.state)) << c.state;
#ifdef _WIN32
    // The console: Ctrl+C and Ctrl+Break leave the launcher waiting for Java;
    // closing the console, logging off and shutting down end it.
    EXPECT_TRUE(consoleEventIgnored(CTRL_C_EVENT));
    EXPECT_TRUE(consoleEventIgnored(CTRL_BREAK_EVENT));
    EXPECT_FALSE(consoleEventIgnored(CTRL_CLOSE_EVENT));
    EXPECT_FALSE(consoleEventIgnored(CTRL_LOGOFF_EVENT));
    EXPECT_FALSE(consoleEventIgnored(CTRL_SHUTDOWN_EVENT));
#endif
}

TEST(Messages, Texts) {
    EXPECT_EQ("起動定義ファイル C:\\app\\config\\boot.xml の解析に失敗しました。",
              bootFailureMessage("C:\\app\\config\\boot.xml"));
    EXPECT_EQ("更新で例外が発生しました。戻り値= 3", updateFailureMessage(3));
    EXPECT_EQ("更新で例外が発生しました。戻り値= -1", updateFailureMessage(-1));
    // The folder as the user sees it, and where to move the application.
    std::string folder = folderUnusableMessage("D:\\Café \xF0\x9F\x98\x80\\");
    EXPECT_EQ(0u, folder.find("フォルダ D:\\Café \xF0\x9F\x98\x80\\ の名前には")) << folder;
    EXPECT_NE(std::string::npos, folder.find("C:\\MyApp")) << folder;
    // No Java: what was configured, the version needed, what to do, where to get it.
    EXPECT_EQ("このアプリケーションを動かす Java 17 以降 が見つからないため、起動できません。"
              "起動定義ファイルが指定する Java: C:\\app\\jre\\bin\\javaw.exe。"
              "Java 17 以降 をインストールするか、アプリケーションをインストールし直してください。"
              "Java の入手先: https://example.com/java",
              javaMissingMessage("C:\\app\\jre\\bin\\javaw.exe", 17, "https://example.com/java"));
    EXPECT_EQ("このアプリケーションを動かす Java が見つからないため、起動できません。"
              "起動定義ファイルが指定する Java: java。"
              "Java をインストールするか、アプリケーションをインストールし直してください。",
              javaMissingMessage("java", 0, ""));
}

#ifndef _WIN32
TEST(JavaSearch, PlacesInOrderEachRuntimeOnce) {
    // Stand-in runtimes: HOME/bin/java and HOME/release.
    std::string root = makeTempDir();
    auto runtime = [&](const std::string& home, const char* version) {
        makeDir(root + home);
        makeDir(root + home + "/bin");
        writeFile(root + home + "/bin/java", "#!/bin/sh\n");
        chmod((root + home + "/bin/java").c_str(), 0755);
        if (version) writeFile(root + home + "/release", std::string("JAVA_VERSION=\"") + version + "\"\n");
    };
    makeDir(root + "jvm");
    runtime("jvm/java-11-openjdk", "11.0.21");
    runtime("jvm/java-21-openjdk", "21.0.1");
    runtime("jvm/java-17-openjdk", "17.0.9");
    runtime("jvm/no-release", nullptr);
    makeDir(root + "jvm/not-a-runtime");
    runtime("home", "1.8.0_392");
    runtime("onpath", "22");
    std::string path = root + "empty:" + root + "onpath/bin:" + root + "jvm/java-17-openjdk/bin";

    testing::internal::CaptureStdout();
    std::vector<JavaRuntime> found = searchJavaRuntimesIn("java", root + "home/", root + "jvm", path);
    int chosen = firstFittingRuntime(found, 17);
    std::vector<std::string> lines = linesOf(testing::internal::GetCapturedStdout());
    auto below = [&](const std::string& p) { return p.compare(0, root.size(), root) == 0 ? p.substr(root.size()) : p; };
    std::vector<std::string> got;
    for (const JavaRuntime& r : found)
        got.push_back(below(r.executable) + ", " + below(r.place) + ", " + std::to_string(r.version));
    std::vector<std::string> expected = {
        "home/bin/java, JAVA_HOME, 8",
        "jvm/java-21-openjdk/bin/java, jvm, 21",
        "jvm/java-17-openjdk/bin/java, jvm, 17",
        "jvm/java-11-openjdk/bin/java, jvm, 11",
        "jvm/no-release/bin/java, jvm, 0",
        "onpath/bin/java, PATH, 22",  // java-17 on PATH again is not listed twice
    };
    EXPECT_EQ(expected, got);
    EXPECT_EQ(1, chosen);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("javaRuntime=" + root + "home/bin/java (JAVA_HOME, version 8): passed over: too old", lines[0]);
    EXPECT_EQ("javaRuntime=" + root + "jvm/java-21-openjdk/bin/java (" + root + "jvm, version 21): chosen", lines[1]);

    // With a minimum, a runtime whose version cannot be read does not fit; nothing at all gives -1.
    std::vector<JavaRuntime> unknown(found.begin() + 4, found.begin() + 5);
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, firstFittingRuntime(unknown, 11));
    EXPECT_EQ(0, firstFittingRuntime(unknown, 0));
    lines = linesOf(testing::internal::GetCapturedStdout());
    EXPECT_EQ("javaRuntime=none fits", lines[1]);
    EXPECT_EQ(0u, lines[2].find("javaRuntime=" + root + "jvm/no-release/bin/java")) << lines[2];
}
#endif

}  // namespace
