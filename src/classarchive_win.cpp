#include "classarchive.h"

#include <windows.h>

#include "baseutil.h"

bool folderWritable(const std::string& dir) {
    // A real write, as the JVM will make: Program Files refuses it by its
    // access rights, which no attribute shows.
    std::string probe = dir + ".launcher-write-test";
    // CREATE_ALWAYS: a probe left by a start that was cut short is ours too.
    HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

std::string userCacheFolder(const std::string& name) {
    wchar_t base[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", base, sizeof(base) / sizeof(base[0]));
    if (n == 0 || n >= sizeof(base) / sizeof(base[0])) return std::string();
    wchar_t wideName[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wideName, MAX_PATH) == 0) return std::string();
    std::wstring folder = std::wstring(base) + L"\\" + wideName;
    if (!CreateDirectoryW(folder.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
    // A user name beyond the ANSI code page: the short form, as for the
    // launcher's own folder.
    std::string ansi;
    if (!toAnsiExactly(folder, ansi) && !toAnsiExactly(shortPath(folder), ansi)) return std::string();
    return ansi.empty() ? ansi : ansi + "\\";
}
