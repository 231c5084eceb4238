#include "procutil.h"

#include "baseutil.h"

static ChildWatcher childWatcher = {NULL, NULL, NULL};

void watchChildren(const ChildWatcher& watcher) {
    childWatcher = watcher;
}

void childHasStarted() {
    if (childWatcher.started != NULL) childWatcher.started();
}

bool childErrorsKept() {
    return childWatcher.errors != NULL && childWatcher.keepsErrors != NULL && childWatcher.keepsErrors();
}

void keepChildErrors(const char* bytes, size_t len) {
    childWatcher.errors(bytes, len);
}

static ChildDesktop childDesktops[2];
static size_t desktopCount = 0;

void presentChildren(const ChildDesktop& desktop) {
    if (desktopCount < 2) childDesktops[desktopCount++] = desktop;
}

std::string childAppId() {
    for (size_t i = 0; i < desktopCount; ++i)
        if (childDesktops[i].appId != NULL) return childDesktops[i].appId();
    return std::string();
}

void childWindowsStarted(unsigned long pid) {
    for (size_t i = 0; i < desktopCount; ++i)
        if (childDesktops[i].started != NULL) childDesktops[i].started(pid);
}

void childWindowsEnded() {
    for (size_t i = 0; i < desktopCount; ++i)
        if (childDesktops[i].ended != NULL) childDesktops[i].ended();
}

static bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::vector<std::string> splitCommandLine(const std::string& commandLine) {
    std::vector<std::string> args;
    std::string::size_type i = 0, n = commandLine.size();
    while (i < n && isBlank(commandLine[i])) ++i;
    if (i >= n) return args;

    // The program name is a path: quotes may group anywhere in it and are
    // dropped, a backslash is just a backslash.
    std::string program;
    bool quoted = false;
    for (; i < n && (quoted || !isBlank(commandLine[i])); ++i) {
        if (commandLine[i] == '"') quoted = !quoted;
        else program += commandLine[i];
    }
    args.push_back(program);

    for (;;) {
        while (i < n && isBlank(commandLine[i])) ++i;
        if (i >= n) break;
        std::string arg;
        bool quoted = false;
        while (i < n && (quoted || !isBlank(commandLine[i]))) {
            char c = commandLine[i];
            if (c == '\\') {
                std::string::size_type slashes = 0;
                while (i < n && commandLine[i] == '\\') { ++slashes; ++i; }
                if (i < n && commandLine[i] == '"') {
                    arg.append(slashes / 2, '\\');
                    if (slashes % 2 == 1) { arg += '"'; ++i; }
                } else {
                    arg.append(slashes, '\\');
                }
            } else if (c == '"') {
                if (quoted && i + 1 < n && commandLine[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                arg += c;
                ++i;
            }
        }
        args.push_back(arg);
    }
    return args;
}

std::string programOfJavaValue(const std::string& javaValue) {
    if (!javaValue.empty() && javaValue[0] == '"') {
        std::string::size_type close = javaValue.find('"', 1);
        return javaValue.substr(1, close == std::string::npos ? close : close - 1);
    }
    std::string::size_type blank = javaValue.find_first_of(" \t");
    if (blank == std::string::npos) return javaValue;
    std::string::size_type next = javaValue.find_first_not_of(" \t", blank);
    // A JVM option, or an @argfile, after the program.
    if (next == std::string::npos || javaValue[next] == '-' || javaValue[next] == '@')
        return javaValue.substr(0, blank);
    return std::string();
}

static bool isSeparator(char c, PathRules rules) {
    return c == '/' || (rules == WindowsPaths && c == '\\');
}

bool isAbsolutePath(const std::string& path, PathRules rules) {
    if (path.empty()) return false;
    if (isSeparator(path[0], rules)) return true;  // Windows: \\server\share and \dir too
    // C:\dir, and the drive-relative C:dir, which names no current folder of ours.
    return rules == WindowsPaths && path.size() >= 2 && path[1] == ':';
}

std::vector<std::string> absolutePathFolders(const std::string& pathValue, PathRules rules) {
    std::vector<std::string> folders;
    std::vector<std::string> entries = splitAt(pathValue, rules == WindowsPaths ? ';' : ':');
    for (size_t i = 0; i < entries.size(); ++i) {
        std::string folder = entries[i];
        if (rules == WindowsPaths && folder.size() >= 2 && folder[0] == '"' && folder[folder.size() - 1] == '"')
            folder = folder.substr(1, folder.size() - 2);
        // A relative folder ("." or an empty entry) is the current one.
        bool rooted = rules == WindowsPaths ? (folder.size() >= 3 && folder[1] == ':' && isSeparator(folder[2], rules)) ||
                                                  (folder.size() >= 2 && folder[0] == '\\' && folder[1] == '\\')
                                            : !folder.empty() && folder[0] == '/';
        if (rooted) folders.push_back(folder);
    }
    return folders;
}

std::vector<std::string> programCandidates(const std::string& program, PathRules rules, const std::string& appDir,
                                           const std::vector<std::string>& systemFolders,
                                           const std::string& pathValue, LeadByteTest leadByte) {
    std::vector<std::string> candidates;
    if (program.empty()) return candidates;
    std::string name = program;
    std::string::size_type last = lastSeparator(name, rules, leadByte);
    // "C:java" names the current folder of drive C: no bare name either.
    if (last == std::string::npos && rules == WindowsPaths && name.size() >= 2 && name[1] == ':') last = 1;
    bool bare = last == std::string::npos;
    if (rules == WindowsPaths) {
        std::string file = bare ? name : name.substr(last + 1);
        if (file.empty()) return candidates;
        if (file.find('.') == std::string::npos) name += ".exe";
    }
    if (isAbsolutePath(name, rules)) {
        candidates.push_back(name);
        return candidates;
    }
    if (!bare) {
        candidates.push_back(appDir + name);
        return candidates;
    }
    if (rules == WindowsPaths) {
        candidates.push_back(appDir + name);
        for (size_t i = 0; i < systemFolders.size(); ++i)
            candidates.push_back(joinPath(systemFolders[i], name, rules, leadByte));
    }
    std::vector<std::string> folders = absolutePathFolders(pathValue, rules);
    for (size_t i = 0; i < folders.size(); ++i) candidates.push_back(joinPath(folders[i], name, rules, leadByte));
    return candidates;
}

bool capturesChildErrors(bool launcherHasOutput, bool launcherHasError, unsigned childSubsystem) {
    const unsigned windowsGui = 2;
    return !launcherHasOutput && !launcherHasError && childSubsystem == windowsGui;
}

JobStart jobStartOf(bool inJob, unsigned long limitFlags) {
    // JOB_OBJECT_LIMIT_BREAKAWAY_OK, _SILENT_BREAKAWAY_OK, _KILL_ON_JOB_CLOSE.
    const unsigned long breakawayOk = 0x0800, silentBreakawayOk = 0x1000, killOnJobClose = 0x2000;
    if (!inJob || (limitFlags & silentBreakawayOk) != 0) return StartPlainly;
    if ((limitFlags & breakawayOk) != 0) return StartBreakingAway;
    return (limitFlags & killOnJobClose) != 0 ? StartNot : StartPlainly;
}

// Where the PE signature stands, with its machine field; 0 when the bytes
// hold none.
static unsigned long peHeaderAt(const unsigned char* head, size_t size) {
    if (size < 0x40 || head[0] != 'M' || head[1] != 'Z') return 0;
    unsigned long pe = head[0x3C] | (head[0x3D] << 8) | (static_cast<unsigned long>(head[0x3E]) << 16) |
                       (static_cast<unsigned long>(head[0x3F]) << 24);
    if (pe == 0 || pe > size || size - pe < 6) return 0;
    if (head[pe] != 'P' || head[pe + 1] != 'E' || head[pe + 2] != 0 || head[pe + 3] != 0) return 0;
    return pe;
}

unsigned peMachine(const unsigned char* head, size_t size) {
    unsigned long pe = peHeaderAt(head, size);
    return pe == 0 ? 0 : head[pe + 4] | (head[pe + 5] << 8);
}

unsigned peSubsystem(const unsigned char* head, size_t size) {
    unsigned long pe = peHeaderAt(head, size);
    if (pe == 0) return 0;
    // After the signature and the file header, at the same offset of the
    // optional header in PE32 and PE32+.
    unsigned long at = pe + 4 + 20 + 68;
    if (at > size || size - at < 2) return 0;
    return head[at] | (head[at + 1] << 8);
}

enum { MachineX86 = 0x014C, MachineX64 = 0x8664, MachineArm64 = 0xAA64 };

bool machineRunsOn(unsigned machine, unsigned nativeMachine) {
    if (machine == 0 || machine == nativeMachine || machine == MachineX86) return true;
    // Windows 11 on ARM emulates x64 programs.
    return machine == MachineX64 && nativeMachine == MachineArm64;
}

std::string machineName(unsigned machine) {
    switch (machine) {
    case MachineX86: return "x86";
    case MachineX64: return "x64";
    case MachineArm64: return "ARM64";
    default: break;
    }
    static const char digits[] = "0123456789ABCDEF";
    std::string hex = "0x";
    for (int shift = 12; shift >= 0; shift -= 4) hex += digits[(machine >> shift) & 0xF];
    return hex;
}

// The first bytes of a program file: where its PE header is.
static unsigned programHeadField(const std::string& path, unsigned (*field)(const unsigned char*, size_t)) {
    unsigned char head[4096];
    unsigned long long size = 0;
    void* file = openFileForReading(path, size);
    if (file == NULL) return 0;
    long got = readFileAt(file, 0, head, sizeof(head));
    closeFileForReading(file);
    return got > 0 ? field(head, static_cast<size_t>(got)) : 0;
}

unsigned programMachine(const std::string& path) {
    return programHeadField(path, peMachine);
}

unsigned programSubsystem(const std::string& path) {
    return programHeadField(path, peSubsystem);
}
