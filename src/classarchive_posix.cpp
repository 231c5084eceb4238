#include "classarchive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>

static bool makeFolder(const std::string& dir) {
    return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string userCacheFolder(const std::string& name) {
    const char* xdg = getenv("XDG_CACHE_HOME");
    std::string base;
    if (xdg != NULL && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = getenv("HOME");
        if (home == NULL || home[0] != '/') return std::string();
        base = std::string(home) + "/.cache";
        if (!makeFolder(base)) return std::string();
    }
    std::string folder = base + "/" + name;
    return makeFolder(folder) ? folder + "/" : std::string();
}
