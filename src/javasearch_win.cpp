#include "javasearch.h"

#include <windows.h>

#include "baseutil_win.h"
#include "procutil.h"

bool isJavaProgram(const std::string& path) {
    return !path.empty() && pathFileExists(path);
}

// FOLDER\NAME, whether FOLDER ends in a backslash or not; empty when the
// folder has no usable path.
static std::string inFolder(const WideText& folder, const std::string& name) {
    std::string ansi = usableAnsiPath(folder);
    return ansi.empty() ? ansi : joinPath(ansi, name, WindowsPaths, nativeLeadByte);
}

// HOME\bin\NAME.
static std::string inBin(const WideText& home, const std::string& name) {
    return home.empty() ? std::string() : inFolder(home, "bin\\" + name);
}

// ----------------------------------------------------------- the registry

enum Layout {
    JavaSoftLayout,  // VERSION subkeys, CurrentVersion first; JavaHome
    MsiLayout,       // VERSION\hotspot\MSI or VERSION\openj9\MSI; Path
    ZuluLayout,      // zulu-MAJOR subkeys; InstallationPath
    LibericaLayout,  // a subkey per install, no version; InstallationPath
};

struct Root {
    const wchar_t* key;
    Layout layout;
};

const Root ROOTS[] = {
    {L"JavaSoft\\JDK", JavaSoftLayout},
    {L"JavaSoft\\JRE", JavaSoftLayout},
    {L"JavaSoft\\Java Development Kit", JavaSoftLayout},
    {L"JavaSoft\\Java Runtime Environment", JavaSoftLayout},
    {L"Eclipse Adoptium\\JDK", MsiLayout},
    {L"Eclipse Adoptium\\JRE", MsiLayout},
    {L"AdoptOpenJDK\\JDK", MsiLayout},
    {L"AdoptOpenJDK\\JRE", MsiLayout},
    {L"Eclipse Foundation\\JDK", MsiLayout},
    {L"Eclipse Foundation\\JRE", MsiLayout},
    {L"Microsoft\\JDK", MsiLayout},
    {L"Azul Systems\\Zulu", ZuluLayout},
    {L"BellSoft\\Liberica", LibericaLayout},
};

static WideText stringValue(HKEY key, const wchar_t* name, REGSAM view) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, NULL, &type, NULL, &size) != ERROR_SUCCESS) return WideText();
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size == 0) return WideText();
    WideText value(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, NULL, &type, reinterpret_cast<BYTE*>(&value[0]), &size) != ERROR_SUCCESS)
        return WideText();
    value.resize(wcsnlen(value.c_str(), size / sizeof(wchar_t)));
    if (type == REG_EXPAND_SZ) {
        // This process's %ProgramFiles% is the 32-bit folder.
        if (view == KEY_WOW64_64KEY)
            value = withNativeProgramFolders(value, environmentValue(L"ProgramW6432"),
                                             environmentValue(L"CommonProgramW6432"));
        wchar_t expanded[MAX_PATH * 4];
        DWORD n = ExpandEnvironmentStringsW(value.c_str(), expanded, sizeof(expanded) / sizeof(expanded[0]));
        if (n > 0 && n <= sizeof(expanded) / sizeof(expanded[0])) value = expanded;
    }
    return value;
}

static std::vector<WideText> subkeys(HKEY key) {
    std::vector<WideText> names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof(name) / sizeof(name[0]);
        if (RegEnumKeyExW(key, i, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
        names.push_back(WideText(name, length));
    }
    return names;
}

// The value named in the subkey path of key; empty when any is missing.
static WideText valueBelow(HKEY key, const WideText& path, const wchar_t* name, REGSAM view) {
    HKEY sub;
    if (RegOpenKeyExW(key, path.c_str(), 0, KEY_READ | view, &sub) != ERROR_SUCCESS) return WideText();
    WideText value = stringValue(sub, name, view);
    RegCloseKey(sub);
    return value;
}

// Newest first. A handful of keys: a plain insertion sort, which costs
// the executable less than std::sort's code for wide strings.
static void sortNewestFirst(std::vector<WideText>& keys) {
    for (size_t i = 1; i < keys.size(); ++i)
        for (size_t j = i; j > 0 && newerJavaVersion(wideToUtf8(keys[j]), wideToUtf8(keys[j - 1])); --j)
            keys[j].swap(keys[j - 1]);
}

static void registryRuntimes(HKEY hive, const char* hiveName, REGSAM view, const Root& root, const std::string& name,
                             std::vector<JavaRuntime>& found) {
    WideText rootPath = WideText(L"SOFTWARE\\") + root.key;
    HKEY key;
    if (RegOpenKeyExW(hive, rootPath.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return;
    std::vector<WideText> versions = subkeys(key);
    sortNewestFirst(versions);
    if (root.layout == JavaSoftLayout) {
        // CurrentVersion first, the others after it as they were.
        WideText current = stringValue(key, L"CurrentVersion", view);
        for (size_t i = versions.size(); i-- > 1;)
            if (versions[i] == current) versions[i].swap(versions[i - 1]);
    }
    std::string placeRoot = std::string("registry ") + hiveName + "\\" + wideToUtf8(rootPath) + "\\";
    std::string viewName = view == KEY_WOW64_64KEY ? " (64-bit view)" : " (32-bit view)";
    for (size_t i = 0; i < versions.size(); ++i) {
        WideText home;
        WideText where = versions[i];
        if (root.layout == JavaSoftLayout) {
            home = valueBelow(key, where, L"JavaHome", view);
        } else if (root.layout == MsiLayout) {
            where = versions[i] + L"\\hotspot\\MSI";
            home = valueBelow(key, where, L"Path", view);
            if (home.empty()) {
                where = versions[i] + L"\\openj9\\MSI";
                home = valueBelow(key, where, L"Path", view);
            }
        } else {
            home = valueBelow(key, where, L"InstallationPath", view);
        }
        std::string executable = inBin(home, name);
        if (home.empty() || !isJavaProgram(executable)) continue;
        int version = root.layout == LibericaLayout ? 0 : javaMajorVersion(wideToUtf8(versions[i]));
        found.push_back(javaRuntimeAt(executable, placeRoot + wideToUtf8(where) + viewName, version));
    }
    RegCloseKey(key);
}

std::vector<JavaRuntime> searchJavaRuntimes(const std::string& name) {
    std::vector<JavaRuntime> found;
    WideText javaHome = environmentValue(L"JAVA_HOME");
    if (!javaHome.empty()) {
        std::string executable = inBin(javaHome, name);
        if (isJavaProgram(executable)) found.push_back(javaRuntimeAt(executable, "JAVA_HOME"));
    }
    // Most runtimes today are 64-bit, and this is a 32-bit program: both
    // views, of the machine's installs and of the user's.
    const REGSAM views[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    for (size_t r = 0; r < sizeof(ROOTS) / sizeof(ROOTS[0]); ++r)
        for (int v = 0; v < 2; ++v) {
            registryRuntimes(HKEY_LOCAL_MACHINE, "HKLM", views[v], ROOTS[r], name, found);
            registryRuntimes(HKEY_CURRENT_USER, "HKCU", views[v], ROOTS[r], name, found);
        }
    // PATH as the program search reads it: wide, short forms where needed.
    std::vector<std::string> folders = absolutePathFolders(pathForPrograms(), WindowsPaths);
    for (size_t i = 0; i < folders.size(); ++i) {
        std::string executable = joinPath(folders[i], name, WindowsPaths, nativeLeadByte);
        if (isJavaProgram(executable)) found.push_back(javaRuntimeAt(executable, "PATH"));
    }
    // One runtime under several keys, or in several places, counts once.
    std::vector<JavaRuntime> unique;
    for (size_t i = 0; i < found.size(); ++i) {
        bool seen = false;
        for (size_t j = 0; j < unique.size() && !seen; ++j)
            seen = CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, found[i].executable.c_str(), -1,
                                  unique[j].executable.c_str(), -1) == CSTR_EQUAL;
        if (!seen) unique.push_back(found[i]);
    }
    return unique;
}
