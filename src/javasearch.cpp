#include "javasearch.h"

#include <cctype>

#include "baseutil.h"
#include "pathconst.h"
#include "procutil.h"

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

