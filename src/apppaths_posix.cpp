#include "apppaths.h"
#include "baseutil.h"
#include "pathconst.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
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

static bool makeFolder(const std::string& dir) {
    return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

// The folder name, made when missing, below the folder that the
// environment variable xdgVariable names, else below ~/homeFolder (made
// too).
static std::string userFolder(const char* xdgVariable, const char* homeFolder, const std::string& name) {
    const char* xdg = getenv(xdgVariable);
    std::string base;
    if (xdg != NULL && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = getenv("HOME");
        if (home == NULL || home[0] != '/') return std::string();
        base = home;
        // Each folder of the way, as ~/.local/state may not be there yet.
        for (const char* part = homeFolder; *part != '\0';) {
            const char* end = part;
            while (*end != '\0' && *end != '/') ++end;
            base += "/" + std::string(part, end);
            if (!makeFolder(base)) return std::string();
            part = *end == '/' ? end + 1 : end;
        }
    }
    if (!makeFolder(base)) return std::string();
    std::string folder = base + "/" + name;
    if (!makeFolder(folder)) return std::string();
    // One that another user made, or may write into, is not ours to keep
    // files in: they could plant links and FIFOs there.
    struct stat st;
    std::string refusal;
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) refusal = "it is not a folder";
    else if (st.st_uid != geteuid()) refusal = "another user owns it";
    else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) refusal = "others may write into it";
    if (refusal.empty()) return folder + "/";
    writeLine(stdout, "userFolderRefused=" + folder + ": " + refusal);
    return std::string();
}

std::string userCacheFolder(const std::string& name) {
    return userFolder("XDG_CACHE_HOME", ".cache", name);
}

std::string userStateFolder(const std::string& name) {
    return userFolder("XDG_STATE_HOME", ".local/state", name);
}

std::string userConfigFolder(const std::string& name) {
    const char* xdg = getenv("XDG_CONFIG_HOME");
    if (xdg != NULL && xdg[0] == '/') return std::string(xdg) + "/" + name + "/";
    const char* home = getenv("HOME");
    if (home == NULL || home[0] != '/') return std::string();
    return std::string(home) + "/.config/" + name + "/";
}
