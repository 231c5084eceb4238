#include "xmlutil.h"

#include <algorithm>
#include <boost/foreach.hpp>
#include <boost/property_tree/detail/xml_parser_read_rapidxml.hpp>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "baseutil.h"

using boost::property_tree::ptree;
using boost::property_tree::xml_parser::xml_parser_error;

// The fuzzer builds with a small limit, which its mutations reach.
#ifndef XML_NESTING_LIMIT
#define XML_NESTING_LIMIT 1000
#endif
const int maxXmlNesting = XML_NESTING_LIMIT;

namespace {

// The library's reader recurses once per element level, both while it
// parses and while it builds the tree: about 400 bytes of stack a level
// (2.3 KB with AddressSanitizer): 100,000 levels crash it, and the 2 MB
// stack of the win64 build already about 4,400. Deeper text is refused
// before the library sees it.
//
// The scan follows the library's grammar for the flags read_xml uses
// (rapidxml, comments kept): the first NUL ends the text; comments, CDATA,
// processing instructions, DOCTYPE and quoted attribute values nest
// nothing; closing tags are not matched by name. Where the library would
// stop with an error the scan may stop too, or go on with a wrong count:
// either way the caller lets the library look at the text before the
// position found first, so its own error still wins.

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isNameChar(char c) {
    return c != '\0' && !isBlank(c) && c != '/' && c != '>' && c != '?';
}

bool isAttributeNameChar(char c) {
    return isNameChar(c) && c != '!' && c != '<' && c != '=';
}

// Just past the first occurrence of end from p on; NULL when the text ends first.
const char* pastNext(const char* p, const char* end) {
    const char* at = std::strstr(p, end);
    return at ? at + std::strlen(end) : NULL;
}

// Just past the '>' that ends a DOCTYPE; '>' inside [...] does not count.
const char* pastDoctype(const char* p) {
    while (*p != '>') {
        if (*p == '\0') return NULL;
        if (*p++ != '[') continue;
        for (long depth = 1; depth > 0; ++p) {
            if (*p == '\0') return NULL;
            if (*p == '[') ++depth;
            if (*p == ']') --depth;
        }
    }
    return p + 1;
}

// The offset of the '<' that would open an element deeper than
// maxXmlNesting, or npos.
std::size_t findExcessNesting(const char* text) {
    const char* p = text;
    if (static_cast<unsigned char>(p[0]) == 0xEF && static_cast<unsigned char>(p[1]) == 0xBB &&
        static_cast<unsigned char>(p[2]) == 0xBF)
        p += 3;
    int depth = 0;
    while (p != NULL) {
        if (depth == 0) {
            while (isBlank(*p)) ++p;
            if (*p != '<') return std::string::npos;  // the end, or text outside any element
        } else if (*p != '<') {
            if (*p == '\0') return std::string::npos;
            while (*p != '\0' && *p != '<') ++p;
            continue;
        }
        const char* open = p++;
        if (*p == '/' && depth > 0) {
            ++p;
            while (isNameChar(*p)) ++p;
            while (isBlank(*p)) ++p;
            if (*p++ != '>') return std::string::npos;
            --depth;
            continue;
        }
        if (*p == '?') {
            p = pastNext(p + 1, "?>");
            continue;
        }
        if (*p == '!') {
            if (p[1] == '-' && p[2] == '-')
                p = pastNext(p + 3, "-->");
            else if (std::strncmp(p + 1, "[CDATA[", 7) == 0)
                p = pastNext(p + 8, "]]>");
            else if (std::strncmp(p + 1, "DOCTYPE", 7) == 0 && isBlank(p[8]))
                p = pastDoctype(p + 9);
            else
                p = pastNext(p + 1, ">");
            continue;
        }
        const char* name = p;
        while (isNameChar(*p)) ++p;
        if (p == name) return std::string::npos;
        if (depth == maxXmlNesting) return static_cast<std::size_t>(open - text);
        while (isBlank(*p)) ++p;
        while (isAttributeNameChar(*p)) {
            while (isAttributeNameChar(*p)) ++p;
            while (isBlank(*p)) ++p;
            if (*p++ != '=') return std::string::npos;
            while (isBlank(*p)) ++p;
            char quote = *p++;
            if (quote != '"' && quote != '\'') return std::string::npos;
            while (*p != '\0' && *p != quote) ++p;
            if (*p++ != quote) return std::string::npos;
            while (isBlank(*p)) ++p;
        }
        if (*p == '>') {
            ++p;
            ++depth;
        } else if (p[0] == '/' && p[1] == '>') {
            p += 2;
        } else {
            return std::string::npos;
        }
    }
    return std::string::npos;
}

// The library's own parser and tree builder, as read_xml runs them with
// flags 0 (comments kept, white space as it stands), over text ending in a
// NUL. The library reads a stream only to put its bytes into such a buffer;
// this takes them from anywhere. The line of an error counts the newlines
// before the place of the fault, as read_xml counts them.
ptree parseWithLibrary(std::vector<char>& text, const std::string& fileName) {
    namespace rapidxml = boost::property_tree::detail::rapidxml;
    try {
        rapidxml::xml_document<char> doc;
        doc.parse<rapidxml::parse_comment_nodes>(&text.front());
        ptree pt;
        for (rapidxml::xml_node<char>* child = doc.first_node(); child; child = child->next_sibling())
            boost::property_tree::xml_parser::read_xml_node(child, pt, 0);
        return pt;
    } catch (rapidxml::parse_error& e) {
        long line = static_cast<long>(std::count(&text.front(), e.where<char>(), '\n') + 1);
        throw xml_parser_error(e.what(), fileName, line);
    }
}

// text ends in a NUL; the library parses it in place.
ptree parseText(std::vector<char>& text, const std::string& fileName) {
    std::size_t tooDeep = findExcessNesting(&text.front());
    if (tooDeep == std::string::npos) return parseWithLibrary(text, fileName);

    // Up to there the text nests no deeper than allowed. Given just that
    // much, the library fails where it ends, an element being open ("unexpected
    // end of data", which it says only at a NUL, and the scan stopped before
    // the first), unless it finds a fault of its own on the way: that one is
    // reported as ever.
    std::vector<char> head(text.begin(), text.begin() + tooDeep);
    head.push_back('\0');
    try {
        parseWithLibrary(head, fileName);
    } catch (const xml_parser_error& e) {
        if (e.message() != "unexpected end of data") throw;
    }
    long line = static_cast<long>(std::count(text.begin(), text.begin() + tooDeep, '\n')) + 1;
    throw xml_parser_error("elements nested too deeply (more than " + std::to_string(maxXmlNesting) + " levels)",
                           fileName, line);
}

}  // namespace

ptree readXmlBytes(const char* data, std::size_t size, const std::string& fileName) {
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    return parseText(text, fileName);
}

ptree readXmlFile(std::string filePath) {
    writeLine(stdout, filePath);
    std::vector<char> bytes;
    int readError = 0;
    ReadResult read = readFileBytes(filePath, bytes, readError);
    if (read == ReadCannotOpen) throw xml_parser_error("cannot open file", filePath, 0);
    // A file that opens but cannot be read (a directory on POSIX): the
    // file stream's own text, which is what the user has always been shown.
    if (read == ReadFailed) {
        std::string what = "basic_filebuf::underflow error reading the file: ";
        what += readError != 0 ? std::strerror(readError) : "iostream error";
        throw std::runtime_error(what);
    }
    bytes.push_back('\0');
    return parseText(bytes, filePath);
}

// What item.get<std::string>("<xmlattr>." + name) gives, found as that
// lookup finds it, without parsing the path for every item of every key.
// Where it is missing, the library's own lookup throws its error.
static std::string itemAttribute(const ptree& item, const char* name) {
    ptree::const_assoc_iterator attributes = item.find("<xmlattr>");
    if (attributes != item.not_found()) {
        ptree::const_assoc_iterator found = attributes->second.find(name);
        if (found != attributes->second.not_found()) return found->second.data();
    }
    return item.get<std::string>(std::string("<xmlattr>.") + name);
}

std::string getXmlValue(const ptree& pt, std::string key1) {
    std::string value;
    BOOST_FOREACH (const ptree::value_type& child, pt.get_child("boot")) {
        if (child.first != "item") continue;
        const ptree& child2 = child.second;
        std::string key2 = itemAttribute(child2, "key");
        if (key1 == key2) value = itemAttribute(child2, "value");
    }
    return value;
}
