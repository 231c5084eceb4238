#include "argutil.h"

#include <windows.h>

#include "baseutil.h"
#include "procutil.h"

static std::string wideToUtf8(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    int size = static_cast<int>(wide.size());
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), size, NULL, 0, NULL, NULL);
    if (n <= 0) return std::string();
    std::vector<char> buf(n);
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), size, &buf[0], n, NULL, NULL);
    return std::string(&buf[0], n);
}

static std::wstring ansiToWide(const std::string& ansi) {
    if (ansi.empty()) return std::wstring();
    int size = static_cast<int>(ansi.size());
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), size, NULL, 0);
    if (n <= 0) return std::wstring();
    std::vector<wchar_t> buf(n);
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), size, &buf[0], n);
    return std::wstring(&buf[0], n);
}

// wide in the ANSI code page, only when every character has its exact
// counterpart there: Windows would otherwise put in '?' or a look-alike.
static bool toAnsiExactly(const std::wstring& wide, std::string& ansi) {
    ansi.clear();
    if (wide.empty()) return true;
    // A UTF-8 code page refuses both the flag and the question.
    bool utf8 = GetACP() == CP_UTF8;
    DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* used = utf8 ? NULL : &usedDefault;
    int size = static_cast<int>(wide.size());
    int n = WideCharToMultiByte(CP_ACP, flags, wide.c_str(), size, NULL, 0, NULL, used);
    if (n <= 0 || usedDefault) return false;
    std::vector<char> buf(n);
    if (WideCharToMultiByte(CP_ACP, flags, wide.c_str(), size, &buf[0], n, NULL, used) != n || usedDefault)
        return false;
    ansi.assign(&buf[0], n);
    return ansiToWide(ansi) == wide;
}

// The short (8.3) form of an existing file or folder; empty when there is none.
static std::wstring shortPath(const std::wstring& path) {
    DWORD n = GetShortPathNameW(path.c_str(), NULL, 0);
    if (n == 0) return std::wstring();
    std::vector<wchar_t> buf(n);
    DWORD m = GetShortPathNameW(path.c_str(), &buf[0], n);
    if (m == 0 || m >= n) return std::wstring();
    return std::wstring(&buf[0], m);
}

int launcherArguments(int, char**, std::string& quoted, std::string& unpassable) {
    // argv has already lost what the code page cannot hold: split the UTF-16
    // command line. In UTF-8 the blanks, tabs, quotes and backslashes that
    // the splitter looks for are single bytes that no other character holds.
    std::vector<std::string> words = splitCommandLine(wideToUtf8(GetCommandLineW()));
    std::vector<std::string> args;
    for (size_t i = 1; i < words.size(); ++i) {
        std::wstring wide = utf8ToWString(words[i]);
        std::string ansi;
        if (!toAnsiExactly(wide, ansi)) {
            // Java can still open a file or folder by its short name.
            wide = shortPath(wide);
            if (wide.empty() || !toAnsiExactly(wide, ansi)) {
                unpassable = words[i];
                return 0;
            }
        }
        args.push_back(wideToUtf8(wide));
    }
    // Quoted before the conversion: in a double-byte code page the second
    // byte of a character may be a backslash, and the C runtime skips it.
    // Each argument converts exactly, and quoting adds only ASCII.
    toAnsiExactly(utf8ToWString(quoteArguments(args)), quoted);
    return 1;
}
