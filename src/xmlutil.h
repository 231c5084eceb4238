// Loading the boot definition file and looking up its items.
#pragma once

#include <boost/property_tree/ptree.hpp>
#include <cstddef>
#include <iosfwd>
#include <string>

// Elements may nest this deep (the boot definition needs two levels);
// deeper text is refused with xml_parser_error "elements nested too deeply
// (more than 1000 levels)" at the line of the first element too deep,
// unless the XML reader finds a fault before it.
extern const int maxXmlNesting;

// The whole file as a property tree; prints the path as a bare line first.
// Throws the XML reader's errors (xml_parser_error).
boost::property_tree::ptree readXmlFile(std::string filePath);

// The same from the file's bytes; fileName names them in the reader's errors.
boost::property_tree::ptree readXmlBytes(const char* data, std::size_t size, const std::string& fileName);

// The same from an open stream (in its own source: the launcher reads
// files without streams).
boost::property_tree::ptree readXmlStream(std::istream& in, const std::string& fileName);

// The value of the last <item> directly under <boot> whose key is key1, or
// "". Every item needs a key; only the matching ones need a value
// (ptree_bad_path otherwise), and a tree without <boot> throws too.
std::string getXmlValue(const boost::property_tree::ptree& pt, std::string key1);
