#include "argutil.h"

std::string quoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    std::string::size_type slashes = 0;
    for (std::string::size_type i = 0; i < arg.size(); ++i) {
        char c = arg[i];
        if (c == '\\') {
            ++slashes;
        } else if (c == '"') {
            // The backslashes before a quote escape each other, then one more escapes the quote.
            out.append(slashes + 1, '\\');
            slashes = 0;
        } else {
            slashes = 0;
        }
        out += c;
    }
    out.append(slashes, '\\');  // or they would escape the closing quote
    out += '"';
    return out;
}

std::string quoteArguments(const std::vector<std::string>& args) {
    std::string out;
    for (size_t i = 0; i < args.size(); ++i) out += " " + quoteArgument(args[i]);
    return out;
}
