#include "javasearch.h"

#include <cctype>

#include "baseutil.h"
#include "pathconst.h"
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

int firstFittingRuntime(const std::vector<JavaRuntime>& runtimes, int minVersion) {
    for (size_t i = 0; i < runtimes.size(); ++i) {
        const JavaRuntime& r = runtimes[i];
        std::string version = r.version > 0 ? "version " + std::to_string(r.version) : "version unknown";
        std::string verdict = "chosen";
        if (!r.foreignMachine.empty()) verdict = "passed over: built for another processor (" + r.foreignMachine + ")";
        else if (minVersion > 0 && r.version == 0) verdict = "passed over: its version cannot be read";
        else if (r.version < minVersion) verdict = "passed over: too old";
        writeLine(stdout, "javaRuntime=" + r.executable + " (" + r.place + ", " + version + "): " + verdict);
        if (verdict == "chosen") return static_cast<int>(i);
    }
    writeLine(stdout, "javaRuntime=none fits");
    return -1;
}

std::string javaMissingMessage(const std::string& configuredForUser, int minVersion, const std::string& download) {
    std::string java = minVersion > 0 ? "Java " + std::to_string(minVersion) + " 以降" : "Java";
    std::string msg = "このアプリケーションを動かす " + java + " が見つからないため、起動できません。"
                      "起動定義ファイルが指定する Java: " + configuredForUser + "。" +
                      java + " をインストールするか、アプリケーションをインストールし直してください。";
    if (!download.empty()) msg += "Java の入手先: " + download;
    return msg;
}

std::string chooseJavaRuntime(const std::string& javaPath, bool search, int minVersion) {
    std::vector<JavaRuntime> runtimes;
    JavaRuntime configured;
    if (configuredJavaRuntime(javaPath, configured)) runtimes.push_back(configured);
    if (search) {
        std::vector<JavaRuntime> found = searchJavaRuntimes(javaExecutableName(javaPath, nativePathRules));
        runtimes.insert(runtimes.end(), found.begin(), found.end());
    }
    int chosen = firstFittingRuntime(runtimes, minVersion);
    if (chosen < 0) return std::string();
    // The configured value goes on as written, exactly as without the keys.
    if (chosen == 0 && !runtimes.empty() && runtimes[0].place.compare(0, 8, "boot.xml") == 0) return javaPath;
    return runtimes[chosen].executable;
}

// ASCII letters only: the names of environment variables.
static bool sameIgnoringCase(const WideText& text, size_t at, const wchar_t* word) {
    for (size_t i = 0; word[i] != L'\0'; ++i) {
        if (at + i >= text.size()) return false;
        wchar_t a = text[at + i], b = word[i];
        if (a >= L'A' && a <= L'Z') a = a - L'A' + L'a';
        if (b >= L'A' && b <= L'Z') b = b - L'A' + L'a';
        if (a != b) return false;
    }
    return true;
}

WideText withNativeProgramFolders(const WideText& value, const WideText& programFiles,
                                      const WideText& commonProgramFiles) {
    WideText out;
    for (size_t i = 0; i < value.size();) {
        if (!programFiles.empty() && sameIgnoringCase(value, i, L"%ProgramFiles%")) {
            out += programFiles;
            i += 14;
        } else if (!commonProgramFiles.empty() && sameIgnoringCase(value, i, L"%CommonProgramFiles%")) {
            out += commonProgramFiles;
            i += 20;
        } else {
            out += value[i++];
        }
    }
    return out;
}

std::string foreignMachineOf(const std::string& executable) {
    unsigned native = nativeMachine();
    if (native == 0) return std::string();
    unsigned machine = programMachine(executable);
    return machineRunsOn(machine, native) ? std::string() : machineName(machine);
}
