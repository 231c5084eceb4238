// What only the Windows build has of the text and file helpers.
#pragma once

#include <string>

#include "baseutil.h"

// Wide in the ANSI code page, and true, only when every character has its
// exact counterpart there (Windows would otherwise put in "?" or a
// look-alike, naming another file).
bool toAnsiExactly(const WideText& wide, std::string& ansi);
// The short (8.3) form of an existing file or folder; empty when there is
// none.
WideText shortPath(const WideText& path);
// A path that the ANSI code page, and so Java, can use: as it is, or its
// short (8.3) form; empty when it has neither.
std::string usableAnsiPath(const WideText& wide);
// UTF-16 to UTF-8.
std::string wideToUtf8(const WideText& wide);
// An environment variable's value, read wide: the ANSI one holds "?" for
// what the code page lacks. Empty when it is unset.
WideText environmentValue(const wchar_t* name);

// Whether the console handler keeps the launcher running on this
// console event (Ctrl+C, Ctrl+Break), so that it still waits for Java and
// runs the updater; closing the console still ends it.
bool consoleEventIgnored(unsigned long ctrlType);

// A function of a system DLL, loaded when first needed: imported, the DLL
// and those it pulls in would be loaded on every start (user32 only when
// there is a message to show). From the system folder only; a system
// without that flag (Windows 7 before KB2533623) refuses it, and gets the
// full path. NULL when there is none.
void* systemProc(const char* dll, const char* name);
// The same, typed, from user32.
template <typename T>
T user32(const char* name) {
    return reinterpret_cast<T>(systemProc("user32.dll", name));
}
