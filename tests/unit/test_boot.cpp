#include <gtest/gtest.h>

#include <boost/property_tree/xml_parser.hpp>
#include <stdexcept>

#include "apppaths.h"
#include "main.h"
#include "testutil.h"
#include "xmlutil.h"

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
        const char* expected;
    };
    const Case cases[] = {
        {"no items", "", "", "", "", "", "", "", "", " "},
        {"java only", "java", "", "", "", "", "", "", "", "java "},
        {"java and -Xmx", "java", "", "", "512m", "", "", "", "", "java  -Xmx512m"},
        {"-cp and main", "java", "", "", "", "lib\\a.jar", "", "", "app.Main", "java  -cp lib\\a.jar app.Main"},
        {"args before main", "java", "", "", "", "", "", "-Dx=1 --flag", "app.Main", "java  -Dx=1 --flag app.Main"},
        {"one-blank -Xmx", "java", "", "", " ", "", "", "", "", "java  -Xmx "},
        {"all memory options in order", "j", "8m", "64m", "512m", "", "", "", "", "j  -Xmn8m -Xms64m -Xmx512m"},
        {"-cp before -jar", "j", "", "", "", "a.jar", "b.jar", "", "", "j  -cp a.jar -jar b.jar"},
        {"worked example", "C:\\app\\jre\\bin\\javaw.exe", "", "64m", "512m", "", "app.jar", "", "",
         "C:\\app\\jre\\bin\\javaw.exe  -Xms64m -Xmx512m -jar app.jar"},
        {"placeholders elsewhere stay", "j", "", "", "", "${APP_DIR}lib", "${APP_DIR}a.jar", "${PARENT_DIR}x", "",
         "j  -cp ${APP_DIR}lib -jar ${APP_DIR}a.jar ${PARENT_DIR}x"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, buildCommandLine(c.java, c.xmn, c.xms, c.xmx, c.cp, c.jar, c.args, c.main))
            << c.name;
}

TEST(CommandLine, Placeholders) {
    EXPECT_EQ("C:\\app\\jre C:\\app\\x", replacePlaceholders("${APP_DIR}jre ${APP_DIR}x", "C:\\app\\", "C:\\app\\"));
    EXPECT_EQ("/p/jre", replacePlaceholders("${PARENT_DIR}jre", "/a/", "/p/"));
    EXPECT_EQ("${app_dir}", replacePlaceholders("${app_dir}", "X", "Y"));
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
}

}  // namespace
