#include "javaruntime.h"

#include <cstdlib>
#include <vector>

#include "apppaths.h"
#include "baseutil.h"
#include "procutil.h"

// The numbers of a version text, "1.N" read as N.
static std::vector<long> versionNumbers(const std::string& text) {
    std::vector<long> numbers;
    std::string::size_type i = 0;
    while (i < text.size() && !std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        long n = 0;
        for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
            n = n < 100000 ? n * 10 + (text[i] - '0') : n;
        numbers.push_back(n);
        // The parts are joined by a dot or an underscore ("1.8.0_392");
        // anything else ("-ea", "+7") ends the version.
        if (i + 1 < text.size() && (text[i] == '.' || text[i] == '_') &&
            std::isdigit(static_cast<unsigned char>(text[i + 1])))
            ++i;
        else
            break;
    }
    if (numbers.size() >= 2 && numbers[0] == 1) numbers.erase(numbers.begin());
    return numbers;
}

int javaMajorVersion(const std::string& text) {
    std::vector<long> numbers = versionNumbers(text);
    return numbers.empty() || numbers[0] > 10000 ? 0 : static_cast<int>(numbers[0]);
}

bool newerJavaVersion(const std::string& a, const std::string& b) {
    std::vector<long> x = versionNumbers(a), y = versionNumbers(b);
    return y < x;
}

int releaseFileVersion(const std::string& releaseText) {
    const std::string key = "JAVA_VERSION=";
    std::string::size_type at = 0;
    while ((at = releaseText.find(key, at)) != std::string::npos) {
        if (at == 0 || releaseText[at - 1] == '\n') {
            std::string::size_type end = releaseText.find('\n', at);
            std::string value = releaseText.substr(at + key.size(), end == std::string::npos ? end : end - at - key.size());
            if (!value.empty() && value[0] == '"') value.erase(0, 1);
            return javaMajorVersion(value);
        }
        at += key.size();
    }
    return 0;
}

// The value without the quotes around it, as the boot definition may give a
// path with blanks.
static std::string unquoted(const std::string& javaPath) {
    if (javaPath.size() >= 2 && javaPath[0] == '"' && javaPath[javaPath.size() - 1] == '"')
        return javaPath.substr(1, javaPath.size() - 2);
    return javaPath;
}

std::string javaExecutableName(const std::string& javaPath, PathRules rules) {
    std::string path = unquoted(javaPath);
    std::string drive, dir, fname, ext;
    splitPath(path, rules, drive, dir, fname, ext, rules == nativePathRules ? nativeLeadByte : 0);
    if (rules == WindowsPaths) {
        if (fname.empty()) return "javaw.exe";  // a GUI program: no console window
        return fname + (ext.empty() ? ".exe" : ext);
    }
    return fname.empty() ? "java" : fname + ext;
}

std::string javaHomeOf(const std::string& executable) {
    std::string drive, dir, fname, ext;
    splitPath(executable, nativePathRules, drive, dir, fname, ext, nativeLeadByte);
    // dir is HOME/bin/.
    std::string binDir = drive + dir;
    if (binDir.size() < 2) return std::string();
    return parentDirOf(binDir.substr(0, binDir.size() - 1), nativePathRules, nativeLeadByte);
}

int installedJavaVersion(const std::string& executable) {
    std::string home = javaHomeOf(executable);
    if (home.empty()) return 0;
    std::vector<char> bytes;
    int error = 0;
    if (readFileBytes(home + "release", bytes, error) != ReadDone) return 0;
    return releaseFileVersion(std::string(bytes.begin(), bytes.end()));
}

JavaRuntime javaRuntimeAt(const std::string& executable, const std::string& place, int version) {
    JavaRuntime r = {executable, place, version > 0 ? version : installedJavaVersion(resolvedProgram(executable)),
                     foreignMachineOf(executable)};
    return r;
}

bool configuredJavaRuntime(const std::string& javaPath, JavaRuntime& runtime) {
    std::string path = unquoted(javaPath);
    if (path.empty()) return false;
    // The very program the runner starts: a relative path below the
    // application's folder, never the current one (a document's, for a
    // file association), a bare name where the system would find it.
    std::string executable = findProgram(path);
    if (executable.empty()) return false;
    // No separator (a 表 or ソ that ends a name is none) and no drive.
    bool bare = lastSeparator(path, nativePathRules, nativeLeadByte) == std::string::npos &&
                (nativePathRules != WindowsPaths || path.find(':') == std::string::npos);
    runtime = javaRuntimeAt(executable, bare ? "boot.xml, on PATH" : "boot.xml");
    return true;
}

std::string foreignMachineOf(const std::string& executable) {
    unsigned native = nativeMachine();
    if (native == 0) return std::string();
    unsigned machine = programMachine(executable);
    return machineRunsOn(machine, native) ? std::string() : machineName(machine);
}
