#include "apppaths.h"
#include "pathconst.h"

#include <windows.h>
#include <vector>

const char fileSep[2] = "\\";
const PathRules nativePathRules = WindowsPaths;

std::string currentModulePath() {
    // Grow the buffer until the path fits: a fixed MAX_PATH buffer would
    // silently truncate a deep installation folder.
    std::vector<char> buf(260);
    for (;;) {
        DWORD n = GetModuleFileNameA(NULL, &buf[0], static_cast<DWORD>(buf.size()));
        if (n == 0) return std::string();
        if (n < buf.size()) return std::string(&buf[0], n);
        if (buf.size() >= 65536) return std::string(&buf[0], n);
        buf.resize(buf.size() * 2);
    }
}
