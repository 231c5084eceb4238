#include "xmlutil.h"

#include <boost/foreach.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <fstream>
#include <iostream>
#include <locale>

using boost::property_tree::ptree;

ptree readXmlFile(std::string filePath) {
    std::cout << filePath << std::endl;
    ptree pt;
    boost::property_tree::read_xml(filePath, pt, 0, std::locale());
    return pt;
}

ptree readXmlStream(std::istream& in, const std::string& fileName) {
    ptree pt;
    try {
        boost::property_tree::read_xml(in, pt, 0);
    } catch (const boost::property_tree::xml_parser_error& e) {
        // Name the source as reading from the file would.
        throw boost::property_tree::xml_parser_error(e.message(), fileName, e.line());
    }
    return pt;
}

std::string getXmlValue(const ptree& pt, std::string key1) {
    std::string value;
    BOOST_FOREACH (const ptree::value_type& child, pt.get_child("boot")) {
        if (child.first != "item") continue;
        const ptree& child2 = child.second;
        std::string key2 = child2.get<std::string>("<xmlattr>.key");
        if (key1 == key2) value = child2.get<std::string>("<xmlattr>.value");
    }
    return value;
}
