#include <boost/property_tree/detail/xml_parser_error.hpp>
#include <istream>
#include <iterator>

#include "xmlutil.h"

using boost::property_tree::ptree;
using boost::property_tree::xml_parser::xml_parser_error;

ptree readXmlStream(std::istream& in, const std::string& fileName) {
    // Read whole, then checked, as the library reads a stream.
    std::string text((std::istreambuf_iterator<char>(in.rdbuf())), std::istreambuf_iterator<char>());
    if (!in.good()) throw xml_parser_error("read error", fileName, 0);
    return readXmlBytes(text.data(), text.size(), fileName);
}
