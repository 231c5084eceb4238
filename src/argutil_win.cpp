#include "argutil.h"

#include <windows.h>

#include "baseutil_win.h"
#include "procutil.h"

int launcherArguments(int, char**, std::string& quoted, std::string& unpassable) {
    // argv has already lost what the code page cannot hold: split the UTF-16
    // command line. In UTF-8 the blanks, tabs, quotes and backslashes that
    // the splitter looks for are single bytes that no other character holds.
    std::vector<std::string> words = splitCommandLine(wideToUtf8(GetCommandLineW()));
    std::vector<std::string> args;
    for (size_t i = 1; i < words.size(); ++i) {
        WideText wide = utf8ToWString(words[i]);
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
