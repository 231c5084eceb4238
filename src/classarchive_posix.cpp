#include "classarchive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>

bool folderWritable(const std::string& dir) {
    // A real write, as the JVM will make: the mode bits alone do not tell
    // (root writes anyway, a read-only mount refuses anyway).
    std::string probe = dir + ".launcher-write-test";
    int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return errno == EEXIST && access(dir.c_str(), W_OK) == 0;
    close(fd);
    unlink(probe.c_str());
    return true;
}

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
