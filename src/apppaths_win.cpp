#include "apppaths.h"
#include "pathconst.h"

#include <windows.h>
#include <vector>

const char fileSep[2] = "\\";
const PathRules nativePathRules = WindowsPaths;

static bool ansiLeadByte(unsigned char c) {
    return IsDBCSLeadByte(c) != 0;
}
const LeadByteTest nativeLeadByte = ansiLeadByte;

// The executable's path as Windows keeps it: UTF-16, every character intact.
static std::wstring moduleFileNameW() {
    // Grow the buffer until the path fits: a fixed MAX_PATH buffer would
    // silently truncate a deep installation folder.
    std::vector<wchar_t> buf(260);
    for (;;) {
        DWORD n = GetModuleFileNameW(NULL, &buf[0], static_cast<DWORD>(buf.size()));
        if (n == 0) return std::wstring();
        if (n < buf.size()) return std::wstring(&buf[0], n);
        if (buf.size() >= 65536) return std::wstring(&buf[0], n);
        buf.resize(buf.size() * 2);
    }
}

// The text in the ANSI code page, or false when the code page lacks one of
// its characters: "?" or a look-alike would name another file.
static bool wideToAnsi(const std::wstring& wide, std::string& ansi) {
    ansi.clear();
    if (wide.empty()) return true;
    BOOL usedDefault = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), static_cast<int>(wide.size()),
                                NULL, 0, NULL, &usedDefault);
    if (n <= 0 || usedDefault) return false;
    ansi.resize(n);
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), static_cast<int>(wide.size()), &ansi[0],
                        n, NULL, &usedDefault);
    if (usedDefault) return false;
    std::vector<wchar_t> back(wide.size() + 1);
    int m = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), n, &back[0], static_cast<int>(back.size()));
    return m == static_cast<int>(wide.size()) && std::wstring(&back[0], m) == wide;
}

static std::string wideToUtf8(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), NULL, 0, NULL, NULL);
    if (n <= 0) return std::string();
    std::string utf8(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), &utf8[0], n, NULL, NULL);
    return utf8;
}

std::string currentModulePath() {
    std::wstring wide = moduleFileNameW();
    std::string ansi;
    if (wideToAnsi(wide, ansi)) return ansi;
    // A folder the ANSI code page cannot spell: its short (8.3) form is
    // plain ASCII, which a Java runtime speaking only the ANSI code page
    // also opens. Without one (short names can be off) there is no path.
    std::vector<wchar_t> buf(wide.size() + 1);
    for (;;) {
        DWORD n = GetShortPathNameW(wide.c_str(), &buf[0], static_cast<DWORD>(buf.size()));
        if (n == 0) return std::string();
        if (n < buf.size()) {
            if (wideToAnsi(std::wstring(&buf[0], n), ansi)) return ansi;
            return std::string();
        }
        buf.resize(n + 1);
    }
}

std::string currentModuleDirForUser() {
    std::wstring wide = moduleFileNameW();
    std::wstring::size_type last = wide.find_last_of(L"\\/");
    if (last == std::wstring::npos) return std::string();
    return wideToUtf8(wide.substr(0, last + 1));
}
