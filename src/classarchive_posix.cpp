#include "classarchive.h"

#include "apppaths.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdlib>


std::string userCacheFolder(const std::string& name) {
    return userFolder("XDG_CACHE_HOME", ".cache", name);
}

FileFacts fileFacts(const std::string& path) {
    struct stat st;
    FileFacts facts = {path, stat(path.c_str(), &st) == 0, 0, 0, false};
    if (facts.exists) {
        facts.size = static_cast<unsigned long long>(st.st_size);
        facts.time = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    }
    return facts;
}

std::vector<std::string> jarsIn(const std::string& dir) {
    std::vector<std::string> jars;
    DIR* folder = opendir(dir.empty() ? "." : dir.c_str());
    if (folder == NULL) return jars;
    while (struct dirent* entry = readdir(folder)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && (name.compare(name.size() - 4, 4, ".jar") == 0 ||
                                name.compare(name.size() - 4, 4, ".JAR") == 0))
            jars.push_back(dir + name);
    }
    closedir(folder);
    std::sort(jars.begin(), jars.end());
    return jars;
}

bool removeFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

unsigned long processId() {
    return static_cast<unsigned long>(getpid());
}

bool processRunning(unsigned long pid) {
    return pid != 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

std::vector<std::string> namesStartingWith(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> names;
    DIR* folder = opendir(dir.empty() ? "." : dir.c_str());
    if (folder == NULL) return names;
    while (struct dirent* entry = readdir(folder))
        if (std::string(entry->d_name).compare(0, prefix.size(), prefix) == 0) names.push_back(entry->d_name);
    closedir(folder);
    return names;
}

unsigned long long freeSpaceIn(const std::string& dir) {
    struct statvfs st;
    if (statvfs(dir.empty() ? "." : dir.c_str(), &st) != 0) return ~0ULL;
    return static_cast<unsigned long long>(st.f_bavail) * st.f_frsize;
}
