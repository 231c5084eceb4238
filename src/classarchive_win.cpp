#include "classarchive.h"

#include <windows.h>

#include "baseutil.h"

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
