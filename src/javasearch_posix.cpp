#include "javasearch_posix.h"

#include <dirent.h>
#include <unistd.h>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <set>

#include "baseutil.h"
#include "procutil.h"

bool isJavaProgram(const std::string& path) {
    return pathFileExists(path) && access(path.c_str(), X_OK) == 0;
}

static bool newestFirst(const JavaRuntime& a, const JavaRuntime& b) {
    if (a.version != b.version) return a.version > b.version;
    return a.executable > b.executable;
}

std::vector<JavaRuntime> searchJavaRuntimesIn(const std::string& name, const std::string& javaHome,
                                              const std::string& runtimesRoot, const std::string& pathValue) {
    std::vector<JavaRuntime> found;
    if (!javaHome.empty()) {
        std::string home = javaHome;
        while (home.size() > 1 && home[home.size() - 1] == '/') home.erase(home.size() - 1);
        if (isJavaProgram(home + "/bin/" + name)) found.push_back(javaRuntimeAt(home + "/bin/" + name, "JAVA_HOME"));
    }
    std::vector<JavaRuntime> homes;
    if (DIR* dir = opendir(runtimesRoot.c_str())) {
        while (struct dirent* entry = readdir(dir)) {
            std::string home = entry->d_name;
            if (home == "." || home == "..") continue;
            std::string executable = runtimesRoot + "/" + home + "/bin/" + name;
            if (isJavaProgram(executable)) homes.push_back(javaRuntimeAt(executable, runtimesRoot));
        }
        closedir(dir);
    }
    std::sort(homes.begin(), homes.end(), newestFirst);
    found.insert(found.end(), homes.begin(), homes.end());
    std::vector<std::string> folders = absolutePathFolders(pathValue, PosixPaths);
    for (size_t i = 0; i < folders.size(); ++i)
        if (isJavaProgram(folders[i] + "/" + name)) found.push_back(javaRuntimeAt(folders[i] + "/" + name, "PATH"));
    // One runtime found in several places counts once, at its first.
    std::vector<JavaRuntime> unique;
    std::set<std::string> seen;
    for (size_t i = 0; i < found.size(); ++i)
        if (seen.insert(resolvedProgram(found[i].executable)).second) unique.push_back(found[i]);
    return unique;
}

std::vector<JavaRuntime> searchJavaRuntimes(const std::string& executableName) {
    const char* javaHome = getenv("JAVA_HOME");
    const char* pathValue = getenv("PATH");
    return searchJavaRuntimesIn(executableName, javaHome != NULL ? javaHome : "", "/usr/lib/jvm",
                                pathValue != NULL ? pathValue : "");
}
