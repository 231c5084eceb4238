#include "classarchive.h"

#include <windows.h>

#include "apppaths.h"
#include "baseutil.h"

std::string userCacheFolder(const std::string& name) {
    wchar_t base[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", base, sizeof(base) / sizeof(base[0]));
    if (n == 0 || n >= sizeof(base) / sizeof(base[0])) return std::string();
    // Java is given paths in this folder, in the ANSI code page: a user name
    // beyond it needs the short form, as for the launcher's own folder.
    // Without either (short names can be off) nothing is made there.
    std::string ansi;
    if ((!toAnsiExactly(base, ansi) && !toAnsiExactly(shortPath(base), ansi)) || ansi.empty()) {
        writeLine(stdout, "userFolderRefused=%LOCALAPPDATA%\\" + name +
                              ": Java could not be given its path: it has neither an ANSI nor a short name");
        return std::string();
    }
    std::string folder = joinPath(ansi, name, WindowsPaths, nativeLeadByte);
    if (!CreateDirectoryA(folder.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
    return folder + "\\";
}

FileFacts fileFacts(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    FileFacts facts = {path, GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) != 0, 0, 0, false};
    if (facts.exists) {
        facts.size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        facts.time = static_cast<long long>((static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                            data.ftLastWriteTime.dwLowDateTime);
    }
    return facts;
}

std::vector<std::string> jarsIn(const std::string& dir) {
    std::vector<std::string> jars;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "*.jar").c_str(), &found);  // any case, as Windows compares
    if (search == INVALID_HANDLE_VALUE) return jars;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) jars.push_back(dir + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    // A plain sort: the handful of jars of a folder.
    for (size_t i = 1; i < jars.size(); ++i)
        for (size_t j = i; j > 0 && jars[j] < jars[j - 1]; --j) jars[j].swap(jars[j - 1]);
    return jars;
}

bool removeFile(const std::string& path) {
    // DeleteFile refuses a read-only file, and the JVM makes its archives so.
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path.c_str()) != 0;
}

unsigned long processId() {
    return GetCurrentProcessId();
}

bool processRunning(unsigned long pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    // Another user's process may refuse us: it runs all the same.
    if (process == NULL) return GetLastError() == ERROR_ACCESS_DENIED;
    bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

std::vector<std::string> namesStartingWith(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + prefix + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

unsigned long long freeSpaceIn(const std::string& dir) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(dir.c_str(), &available, NULL, NULL)) return ~0ULL;
    return available.QuadPart;
}
