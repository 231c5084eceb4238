#include "apppaths.h"

#include "baseutil.h"

std::string appDir;
std::string exeFileName;
std::string parentDir;
// appDir as the user sees it, in UTF-8: never a short (8.3) form, never
// "?" for a character the ANSI code page lacks.
static std::string appDirForUser;

static bool isSeparator(char c, PathRules rules) {
    return c == '/' || (rules == WindowsPaths && c == '\\');
}

static const char* separatorOf(PathRules rules) {
    return rules == WindowsPaths ? "\\" : "/";
}

std::string::size_type lastSeparator(const std::string& path, PathRules rules, LeadByteTest leadByte) {
    std::string::size_type last = std::string::npos;
    for (std::string::size_type i = 0; i < path.size(); ++i) {
        if (leadByte != 0 && leadByte(static_cast<unsigned char>(path[i]))) ++i;  // and its trail byte
        else if (isSeparator(path[i], rules)) last = i;
    }
    return last;
}

std::string joinPath(const std::string& folder, const std::string& name, PathRules rules, LeadByteTest leadByte) {
    if (folder.empty()) return name;
    std::string::size_type last = lastSeparator(folder, rules, leadByte);
    return folder + (last == folder.size() - 1 ? "" : separatorOf(rules)) + name;
}

void splitPath(const std::string& path, PathRules rules, std::string& drive,
               std::string& dir, std::string& fname, std::string& ext, LeadByteTest leadByte) {
    std::string rest = path;
    drive.clear();
    if (rules == WindowsPaths && rest.size() >= 2 && rest[1] == ':') {
        drive = rest.substr(0, 2);
        rest = rest.substr(2);
    }
    std::string::size_type last = lastSeparator(rest, rules, leadByte);
    std::string::size_type name = last == std::string::npos ? 0 : last + 1;
    dir = rest.substr(0, name);
    std::string file = rest.substr(name);
    std::string::size_type dot = file.rfind('.');
    if (dot == std::string::npos) dot = file.size();
    fname = file.substr(0, dot);
    ext = file.substr(dot);
}

std::string parentDirOf(const std::string& dir, PathRules rules, LeadByteTest leadByte) {
    std::string parent = dir;
    std::string drive, directory, fname, ext;
    splitPath(parent, rules, drive, directory, fname, ext, leadByte);
    if (!directory.empty() && fname.empty() && ext.empty()) {
        // The last element is empty: only the trailing separator goes.
        parent.erase(parent.size() - 1);
    } else {
        parent = drive + directory;
        // "C:\A\x" has the parent "C:\A", and "C:x" or "x" have none.
        if (!directory.empty() && directory.size() > 1) parent.erase(parent.size() - 1);
        else if (directory.empty()) parent.clear();
    }
    return parent + separatorOf(rules);
}

void setModulePaths(const std::string& modulePath, PathRules rules, LeadByteTest leadByte) {
    std::string drive, dir, fname, ext;
    splitPath(modulePath, rules, drive, dir, fname, ext, leadByte);
    appDir = drive + dir;
    exeFileName = fname + ext;
    parentDir = parentDirOf(appDir, rules, leadByte);
}

bool ownFolderKnown(const std::string& modulePath, PathRules rules) {
    std::string drive, dir, fname, ext;
    splitPath(modulePath, rules, drive, dir, fname, ext);
    return !dir.empty();
}

int setModuleFileName() {
    std::string modulePath = currentModulePath();
    if (!ownFolderKnown(modulePath, nativePathRules)) return 0;
    setModulePaths(modulePath, nativePathRules, nativeLeadByte);
    appDirForUser = currentModuleDirForUser();
    if (appDirForUser.empty()) appDirForUser = ansiToUtf8(appDir);
    return 1;
}

std::string pathForUser(const std::string& path) {
    if (!appDir.empty() && path.compare(0, appDir.size(), appDir) == 0)
        return appDirForUser + ansiToUtf8(path.substr(appDir.size()));
    return ansiToUtf8(path);
}

std::string launcherName(const std::string& exeFileName) {
    std::string name = exeFileName.substr(0, exeFileName.rfind('.'));
    return name.empty() ? exeFileName : name;
}

std::string hashSuffix(const std::string& text) {
    unsigned long hash = 2166136261UL;
    for (size_t i = 0; i < text.size(); ++i)
        hash = ((hash ^ static_cast<unsigned char>(text[i])) * 16777619UL) & 0xFFFFFFFFUL;
    static const char digits[] = "0123456789abcdef";
    std::string suffix = "-";
    for (int shift = 28; shift >= 0; shift -= 4) suffix += digits[(hash >> shift) & 0xF];
    return suffix;
}
