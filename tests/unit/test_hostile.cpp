// Boot definitions no person writes: nesting deep enough to overflow the
// XML reader's recursion, and text around it that must not count.
#include <gtest/gtest.h>

#include <boost/property_tree/xml_parser.hpp>
#include <sstream>
#include <string>

#include "testutil.h"
#include "xmlutil.h"

using boost::property_tree::ptree;
using boost::property_tree::xml_parser_error;

namespace {

std::string repeat(const std::string& s, int n) {
    std::string out;
    out.reserve(s.size() * n);
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// What readXmlStream gives: "ok" or the error text.
std::string outcome(const std::string& xml, ptree* tree = NULL) {
    std::istringstream in(xml);
    try {
        ptree pt = readXmlStream(in, "boot.xml");
        if (tree) *tree = pt;
        return "ok";
    } catch (const xml_parser_error& e) {
        return e.what();
    }
}

// The same from the library alone; only for text it reads without trouble.
std::string libraryOutcome(const std::string& xml, ptree* tree = NULL) {
    std::istringstream in(xml);
    try {
        ptree pt;
        boost::property_tree::read_xml(in, pt, 0);
        if (tree) *tree = pt;
        return "ok";
    } catch (const xml_parser_error& e) {
        return xml_parser_error(e.message(), "boot.xml", e.line()).what();
    }
}

std::string tooDeepAt(int line) {
    std::ostringstream s;
    s << "boot.xml(" << line << "): elements nested too deeply (more than " << maxXmlNesting << " levels)";
    return s.str();
}

int depthOf(const ptree& pt) {
    int deepest = 0;
    for (ptree::const_iterator it = pt.begin(); it != pt.end(); ++it) {
        if (it->first == "<xmlattr>") continue;
        int d = 1 + depthOf(it->second);
        if (d > deepest) deepest = d;
    }
    return deepest;
}

TEST(Nesting, LimitIsGenerousAndSmall) {
    // Two levels make a boot definition: a hundred read as ever. The win64
    // build's 2 MB stack lasts for about 4,400: 2,001 are refused before the
    // library recurses into them.
    EXPECT_EQ("ok", outcome(repeat("<a>", 100) + repeat("</a>", 100)));
    EXPECT_EQ(tooDeepAt(1), outcome(repeat("<a>", 2001) + repeat("</a>", 2001)));
}

TEST(Nesting, UpToTheLimitReadsAsEver) {
    // One level a line: the first element too deep is on line maxXmlNesting + 1.
    struct Case { const char* name; std::string xml; std::string expected; int depth; };
    const int n = maxXmlNesting;
    const Case cases[] = {
        {"at the limit", repeat("<a>\n", n) + repeat("</a>\n", n), "ok", n},
        {"an empty element at the limit", repeat("<a>\n", n - 1) + "<b/>\n" + repeat("</a>\n", n - 1), "ok", n},
        {"one more", repeat("<a>\n", n + 1) + repeat("</a>\n", n + 1), tooDeepAt(n + 1), 0},
        {"an empty element one more", repeat("<a>\n", n) + "<b/>\n" + repeat("</a>\n", n), tooDeepAt(n + 1), 0},
        {"with attributes and text",
         repeat("<a k='v'>t\n", n) + "<item key='java' value='j'/>" + repeat("</a>", n), tooDeepAt(n + 1), 0},
        {"with double-quoted attributes", repeat("<a k=\"v\" l=\"'\">\n", n + 1), tooDeepAt(n + 1), 0},
        {"unclosed", repeat("<a>\n", n + 1), tooDeepAt(n + 1), 0},
    };
    for (const Case& c : cases) {
        ptree pt;
        ASSERT_EQ(c.expected, outcome(c.xml, &pt)) << c.name;
        if (c.expected != "ok") continue;
        ptree library;
        ASSERT_EQ("ok", libraryOutcome(c.xml, &library)) << c.name;
        EXPECT_TRUE(pt == library) << c.name;
        EXPECT_EQ(c.depth, depthOf(pt)) << c.name;
    }
}

TEST(Nesting, HundredThousandLevelsAreRefused) {
    const int n = 100000;
    EXPECT_EQ(tooDeepAt(1), outcome(repeat("<a>", n) + repeat("</a>", n)));
    EXPECT_EQ(tooDeepAt(1), outcome("\xEF\xBB\xBF<?xml version='1.0'?>" + repeat("<item>", n)));
    EXPECT_EQ(tooDeepAt(maxXmlNesting + 3), outcome("<!-- a comment\n-->\n" + repeat("<a\n>", n)));

    // From a file: the bare path line first, the path in the error.
    std::string file = makeTempDir() + "boot.xml";
    writeFile(file, "<boot>\n" + repeat("<a>", n) + "\n</boot>\n");
    testing::internal::CaptureStdout();
    try {
        readXmlFile(file);
        ADD_FAILURE() << "no error";
    } catch (const xml_parser_error& e) {
        std::ostringstream expected;
        expected << file << "(2): elements nested too deeply (more than " << maxXmlNesting << " levels)";
        EXPECT_EQ(expected.str(), std::string(e.what()));
    }
    EXPECT_EQ(file + "\n", testing::internal::GetCapturedStdout());
}

TEST(Nesting, MarkupThatNestsNothing) {
    // Twice the limit in "<a>" that is not an element; each reads exactly
    // as the library reads it.
    const std::string deep = repeat("<a>", 2 * maxXmlNesting);
    struct Case { const char* name; std::string xml; };
    const Case cases[] = {
        {"comment", "<boot><!--" + deep + "--></boot>"},
        {"comment before the root", "<!--" + deep + "-->\n<boot/>"},
        {"comment holding -- and ->", "<boot><!-- -- -> " + deep + " --></boot>"},
        {"CDATA", "<boot><![CDATA[" + deep + "]]></boot>"},
        {"CDATA with ]] inside", "<boot><![CDATA[]]" + deep + "]]]></boot>"},
        {"processing instruction", "<boot><?pi " + deep + " ?></boot>"},
        {"declaration", "<?xml version='1.0' x='" + deep + "'?><boot/>"},
        {"DOCTYPE subset with > inside", "<!DOCTYPE boot [ <!ENTITY e '>" + deep + "'> ]><boot/>"},
        {"DOCTYPE with nested brackets", "<!DOCTYPE boot [[[" + deep + "]]]><boot/>"},
        {"other <! markup", "<boot><!ELEMENT " + repeat("<a", 3000) + "></boot>"},
        {"double-quoted attribute", "<boot v=\"'" + deep + "\"/>"},
        {"single-quoted attribute", "<boot><item key='\"" + deep + "' value='x'/></boot>"},
        {"escaped text", "<boot>" + repeat("&lt;a&gt;", 2 * maxXmlNesting) + "</boot>"},
        {"siblings", "<boot>" + repeat("<a><b/></a>", 5 * maxXmlNesting) + "</boot>"},
        {"closing tags by any name", "<boot>" + repeat("<a><b></x></y>", 5 * maxXmlNesting) + "</boot>"},
        {"closing tags with blanks", "<boot>" + repeat("<a></a \n>", 5 * maxXmlNesting) + "</boot>"},
        {"roots one after another", repeat("<a></a>", 5 * maxXmlNesting)},
        {"a NUL ends the text", "<boot/>" + std::string(1, '\0') + deep},
    };
    for (const Case& c : cases) {
        ptree pt, library;
        EXPECT_EQ("ok", outcome(c.xml, &pt)) << c.name;
        EXPECT_EQ("ok", libraryOutcome(c.xml, &library)) << c.name;
        EXPECT_TRUE(pt == library) << c.name;
    }
}

TEST(Nesting, LibraryFaultBeforeTheDepthWins) {
    // The library stops at these faults before it nests deeply, so it may
    // be asked directly; its text must come out unchanged.
    const std::string deep = repeat("<a>\n", 3 * maxXmlNesting);
    struct Case { const char* name; std::string xml; const char* expected; };
    const Case cases[] = {
        {"attribute without =", "<boot>\n<item key/>" + deep, "boot.xml(2): expected ="},
        {"attribute without quotes", "<boot><item key=java/>" + deep, "boot.xml(1): expected ' or \""},
        {"bad character reference", "<boot a='&#xZZ;'>" + deep, "boot.xml(1): expected ;"},
        {"text before the root", "x" + deep, "boot.xml(1): expected <"},
        {"no element name", "<boot>< a>" + deep, "boot.xml(1): expected element name"},
        {"unclosed comment", "<boot><!--" + deep, nullptr},
        {"unclosed attribute value", "<boot a='" + deep, nullptr},
        {"bad character reference in text", "<boot>&#12" + deep, "boot.xml(1): expected ;"},
        {"fault on the line of the first element too deep",
         repeat("<a>", maxXmlNesting - 1) + "<b c='&#xZZ;'>" + deep, "boot.xml(1): expected ;"},
    };
    for (const Case& c : cases) {
        std::string library = libraryOutcome(c.xml);
        if (c.expected) {
            EXPECT_EQ(c.expected, library) << c.name;
        }
        EXPECT_EQ(library, outcome(c.xml)) << c.name;
    }
}

TEST(Nesting, LibraryFaultAfterTheDepthIsNotReached) {
    const std::string deep = repeat("<a>\n", maxXmlNesting + 5);
    EXPECT_EQ(tooDeepAt(maxXmlNesting + 1), outcome(deep + "<item key/>"));
    EXPECT_EQ(tooDeepAt(maxXmlNesting + 1), outcome(deep + "</a"));
}

}  // namespace

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "baseutil.h"

// The launcher's own files where others could plant things in their place:
// each is refused at once, and what a link points to stays as it was.
TEST(OwnFiles, WhatStandsInTheirPlaceIsRefusedNotFollowed) {
    const std::string dir = makeTempDir(), outside = dir + "outside.txt";
    struct Case { const char* name; void (*plant)(const std::string& path, const std::string& outside); const char* why; };
    const Case cases[] = {
        {"a FIFO", [](const std::string& p, const std::string&) { mkfifo(p.c_str(), 0600); }, "it is not a regular file"},
        {"a device", [](const std::string& p, const std::string&) { symlink("/dev/zero", p.c_str()); }, "it is a link"},
        {"a link to another file", [](const std::string& p, const std::string& o) { symlink(o.c_str(), p.c_str()); },
         "it is a link"},
        {"a folder", [](const std::string& p, const std::string&) { mkdir(p.c_str(), 0700); }, "it is not a regular file"},
        {"a huge file", [](const std::string& p, const std::string&) { writeFile(p, std::string(2 << 20, 'x')); },
         "it is larger than 1048576 bytes"},
    };
    for (const Case& c : cases) {
        writeFile(outside, "the user's own");
        std::string path = dir + "launcher.jsa.record", text, why;
        c.plant(path, outside);
        auto began = std::chrono::steady_clock::now();
        EXPECT_FALSE(readOwnFile(path, 1 << 20, text, why)) << c.name;
        EXPECT_EQ(c.why, why) << c.name;
        EXPECT_EQ("", text) << c.name;
        // Written anew in its place: the planted thing goes, not what it names.
        bool written = writeOwnFile(path, "mine", why);
        EXPECT_EQ(std::string(c.name) != "a folder", written) << c.name << ": " << why;
        if (written) {
            EXPECT_EQ("mine", readFile(path)) << c.name;
        }
        EXPECT_EQ("the user's own", readFile(outside)) << c.name;
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(2)) << c.name;
        rmdir(path.c_str());
        unlink(path.c_str());
    }
    // Missing: no reason, as nothing stands in the way; another's file is
    // refused only where asked.
    std::string text, why = "stale";
    EXPECT_FALSE(readOwnFile(dir + "none", 100, text, why));
    EXPECT_EQ("", why);
    writeFile(dir + "mine", "job");
    EXPECT_TRUE(readOwnFile(dir + "mine", 100, text, why, true));
    EXPECT_EQ("job", text);
}
#endif
