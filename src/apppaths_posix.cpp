#include "apppaths.h"
#include "pathconst.h"

#include <unistd.h>
#include <vector>

const char fileSep[2] = "/";
const PathRules nativePathRules = PosixPaths;
const LeadByteTest nativeLeadByte = 0;  // names are bytes: a '/' byte always separates

std::string currentModulePath() {
    // readlink does not say whether it truncated: grow until the answer
    // leaves room to spare.
    std::vector<char> buf(256);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", &buf[0], buf.size());
        if (n < 0) return std::string();
        if (static_cast<size_t>(n) < buf.size()) return std::string(&buf[0], n);
        buf.resize(buf.size() * 2);
    }
}

std::string currentModuleDirForUser() {
    return std::string();  // appDir itself: POSIX names are shown as they are
}
