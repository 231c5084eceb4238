// Arbitrary bytes as config/boot.xml, through everything the launcher does
// with them before it starts Java. Refusal by std::exception is the normal
// way out; a crash, a leak, undefined behaviour, any other exception or a
// broken invariant (abort) is a finding.
#include <pthread.h>

#include <boost/foreach.hpp>
#include <boost/property_tree/detail/rapidxml.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "main.h"
#include "procutil.h"
#include "xmlutil.h"

using boost::property_tree::ptree;
using boost::property_tree::xml_parser_error;

namespace {

void require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

struct Outcome {
    bool ok;
    std::string error;  // what() of the xml_parser_error
    long line;
};

// Element levels, attributes and comments left out.
int elementDepth(const ptree& pt) {
    int deepest = 0;
    BOOST_FOREACH (const ptree::value_type& child, pt) {
        if (child.first == "<xmlattr>" || child.first == "<xmlcomment>") continue;
        int d = 1 + elementDepth(child.second);
        if (d > deepest) deepest = d;
    }
    return deepest;
}

struct Reference {
    const std::string* bytes;
    const ptree* ours;  // compared with when both succeed
    Outcome outcome;
    int depth;
    bool sameTree;
    bool wantFaultLine;
    long faultLine;  // of the library's fault, counted in the text as given
};

// The line of the library's fault by its offset. The line in its message
// may be less: it counts newlines after writing string terminators over
// some (<item\n/> on line 1, a fault on line 3: "(2)").
long faultLine(const std::string& bytes) {
    namespace rapidxml = boost::property_tree::detail::rapidxml;
    std::vector<char> text(bytes.begin(), bytes.end());
    text.push_back('\0');
    rapidxml::xml_document<char> doc;
    try {
        doc.parse<rapidxml::parse_comment_nodes>(&text[0]);  // as read_xml with flags 0
    } catch (const rapidxml::parse_error& e) {
        std::size_t at = static_cast<std::size_t>(e.where<char>() - &text[0]);
        return static_cast<long>(std::count(bytes.begin(), bytes.begin() + at, '\n')) + 1;
    }
    return 0;
}

// The library's reader on its own, unguarded. It recurses per level, and
// a level takes 3 bytes ("<a>") and about 2.3 KB of stack here: the main
// thread's 8 MB do for the 1,365 levels of run.sh's -max_len 4096, a
// thread with a bigger stack for longer inputs.
void* readUnguarded(void* arg) {
    Reference& ref = *static_cast<Reference*>(arg);
    std::istringstream in(*ref.bytes);
    ptree pt;
    ref.outcome.ok = false;
    ref.outcome.line = 0;
    try {
        boost::property_tree::read_xml(in, pt, 0);
        ref.outcome.ok = true;
    } catch (const xml_parser_error& e) {
        ref.outcome.error = xml_parser_error(e.message(), "boot.xml", e.line()).what();
        ref.outcome.line = e.line();
    }
    ref.depth = ref.outcome.ok ? elementDepth(pt) : 0;
    ref.faultLine = ref.wantFaultLine && !ref.outcome.ok ? faultLine(*ref.bytes) : 0;
    ref.sameTree = ref.ours != NULL && ref.outcome.ok && *ref.ours == pt;
    return NULL;
}

void readReference(Reference& ref) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, (16u << 20) + ref.bytes->size() / 3 * 8192);
    pthread_t thread;
    require(pthread_create(&thread, &attr, readUnguarded, &ref) == 0, "reference thread starts");
    pthread_join(thread, NULL);
    pthread_attr_destroy(&attr);
}

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// The value getXmlValue must give: the last <item> under <boot> with the key.
std::string lastItemValue(const ptree& pt, const std::string& key) {
    std::string value;
    BOOST_FOREACH (const ptree::value_type& child, pt.get_child("boot")) {
        if (child.first == "item" && child.second.get<std::string>("<xmlattr>.key") == key)
            value = child.second.get<std::string>("<xmlattr>.value");
    }
    return value;
}

void checkCommandLine(const ptree& pt) {
    const char* keys[] = {"console", "java", "-Xmn", "-Xms", "-Xmx", "-cp", "-jar", "args", "main"};
    std::string v[9];
    for (int i = 0; i < 9; ++i) {
        try {
            v[i] = getXmlValue(pt, keys[i]);
        } catch (const boost::property_tree::ptree_error&) {
            // The launcher stops at the first lookup that throws.
            bool refused = false;
            try {
                lastItemValue(pt, keys[i]);
            } catch (const boost::property_tree::ptree_error&) {
                refused = true;
            }
            require(refused, "getXmlValue throws only where an item lacks what it needs");
            return;
        }
        require(v[i] == lastItemValue(pt, keys[i]), "getXmlValue gives the last matching item");
    }
    const std::string &xmn = v[2], &xms = v[3], &xmx = v[4], &cp = v[5], &jar = v[6], &args = v[7],
                      &mainClass = v[8];

    std::string java = replacePlaceholders(v[1], "/opt/app/", "/opt/");
    require(java.find("${APP_DIR}") == std::string::npos, "no ${APP_DIR} left");
    require(java.find("${PARENT_DIR}") == std::string::npos, "no ${PARENT_DIR} left");

    std::string quoted = quoteJavaPath(java, 1);
    require(quoted == java || quoted == "\"" + java + "\"", "quoting only adds quotes");
    std::string cmd = buildCommandLine(quoted, xmn, xms, xmx, cp, jar, args, mainClass);

    require(startsWith(cmd, quoted + " "), "the command line begins with the java value");
    if (!jar.empty()) require(cmd.find(" -jar " + jar) != std::string::npos, "-jar value after \" -jar \"");
    if (!cp.empty()) require(cmd.find(" -cp " + cp) != std::string::npos, "-cp value after \" -cp \"");
    if (!xmx.empty()) require(cmd.find(" -Xmx" + xmx) != std::string::npos, "-Xmx value");
    if (!mainClass.empty())
        require(cmd.size() > mainClass.size() &&
                    cmd.compare(cmd.size() - mainClass.size() - 1, std::string::npos, " " + mainClass) == 0,
                "the main class ends the command line");
    std::size_t expected = quoted.size() + 1;
    const std::string* memory[] = {&xmn, &xms, &xmx};
    for (int i = 0; i < 3; ++i)
        if (!memory[i]->empty()) expected += 5 + memory[i]->size();
    if (!cp.empty()) expected += 5 + cp.size();
    if (!jar.empty()) expected += 6 + jar.size();
    if (!args.empty()) expected += 1 + args.size();
    if (!mainClass.empty()) expected += 1 + mainClass.size();
    require(cmd.size() == expected, "nothing but the items and their separators");

    // The program the runner starts is the java value, blanks and all.
    if (!java.empty() && java.find_first_of("\"\t") == std::string::npos) {
        std::vector<std::string> argv = splitCommandLine(cmd);
        require(!argv.empty() && argv[0] == java, "the runner starts the java value");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);

    Outcome ours = {false, "", 0};
    ptree pt;
    {
        std::istringstream in(bytes);
        try {
            pt = readXmlStream(in, "boot.xml");
            ours.ok = true;
        } catch (const xml_parser_error& e) {
            ours.error = e.what();
            ours.line = e.line();
        }
    }

    bool refusedAsDeep = !ours.ok && ours.error.find("): elements nested too deeply") != std::string::npos;
    Reference ref = {&bytes, ours.ok ? &pt : NULL, {false, "", 0}, 0, false, refusedAsDeep, 0};
    // Unless it refused the text as deep, the guarded reader has just run
    // the library on this stack with it; deep text as short as run.sh's
    // fits as well. A thread a run would cost most of the time.
    if (refusedAsDeep && size / 3 > 2000)
        readReference(ref);
    else
        readUnguarded(&ref);
    if (ours.ok) {
        require(ref.outcome.ok && ref.sameTree, "a tree read equals the library's own");
        require(ref.depth <= maxXmlNesting, "no tree deeper than the limit");
    } else if (refusedAsDeep) {
        // The library gets that deep before any fault of its own, if it has one.
        require(ref.outcome.ok ? ref.depth > maxXmlNesting : ref.faultLine >= ours.line,
                "refused as deep only where the library nests too deeply");
    } else {
        require(!ref.outcome.ok && ref.outcome.error == ours.error, "the library's own error, unchanged");
    }

    if (ours.ok) checkCommandLine(pt);
    return 0;
}
