// Unpacking deflated data, as a jar stores most of its entries.
#pragma once

#include <cstddef>
#include <string>

// Unpacks size bytes of raw deflate data (RFC 1951) into out, at most
// limit bytes of it; false when the data is damaged or unpacks to more.
bool inflateData(const unsigned char* in, size_t size, std::string& out, size_t limit);
