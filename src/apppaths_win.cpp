#include "apppaths_win.h"
#include "pathconst.h"

#include "baseutil_win.h"

#include <windows.h>
#include <vector>

const char fileSep[2] = "\\";
const PathRules nativePathRules = WindowsPaths;

static bool ansiLeadByte(unsigned char c) {
    return IsDBCSLeadByte(c) != 0;
}
const LeadByteTest nativeLeadByte = ansiLeadByte;

WideText moduleFileNameW() {
    // Grow the buffer until the path fits: a fixed MAX_PATH buffer would
    // silently truncate a deep installation folder.
    std::vector<wchar_t> buf(260);
    for (;;) {
        DWORD n = GetModuleFileNameW(NULL, &buf[0], static_cast<DWORD>(buf.size()));
        if (n == 0) return WideText();
        if (n < buf.size()) return WideText(&buf[0], n);
        if (buf.size() >= 65536) return WideText(&buf[0], n);
        buf.resize(buf.size() * 2);
    }
}

std::string currentModulePath() {
    WideText wide = moduleFileNameW();
    std::string ansi;
    if (toAnsiExactly(wide, ansi)) return ansi;
    // A folder the ANSI code page cannot spell: its short (8.3) form is
    // plain ASCII, which a Java runtime speaking only the ANSI code page
    // also opens. Without one (short names can be off) there is no path.
    if (toAnsiExactly(shortPath(wide), ansi) && !ansi.empty()) return ansi;
    return std::string();
}

std::string currentModuleDirForUser() {
    WideText wide = moduleFileNameW();
    WideText::size_type last = wide.find_last_of(L"\\/");
    if (last == WideText::npos) return std::string();
    return wideToUtf8(wide.substr(0, last + 1));
}

std::string userCacheFolder(const std::string& name) {
    WideText base = environmentValue(L"LOCALAPPDATA");
    if (base.empty()) return std::string();
    // Java is given paths in this folder, in the ANSI code page: a user name
    // beyond it needs the short form, as for the launcher's own folder.
    // Without either (short names can be off) nothing is made there.
    std::string ansi = usableAnsiPath(base);
    if (ansi.empty()) {
        writeLine(stdout, "userFolderRefused=%LOCALAPPDATA%\\" + name +
                              ": Java could not be given its path: it has neither an ANSI nor a short name");
        return std::string();
    }
    std::string folder = joinPath(ansi, name, WindowsPaths, nativeLeadByte);
    if (!CreateDirectoryA(folder.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
    return folder + "\\";
}

std::string userStateFolder(const std::string& name) {
    // %LOCALAPPDATA%\NAME\, as for the class archive, short forms included.
    return userCacheFolder(name);
}

std::string userConfigFolder(const std::string& name) {
    WideText base = environmentValue(L"APPDATA");
    std::string ansi = base.empty() ? std::string() : usableAnsiPath(base);
    return ansi.empty() ? ansi : joinPath(ansi, name, WindowsPaths, nativeLeadByte) + "\\";
}
