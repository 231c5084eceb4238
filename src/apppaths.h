// The launcher's own paths: everything it touches is found relative to them.
#pragma once

#include <string>

extern std::string appDir;      // directory of the executable, ending in a separator
extern std::string exeFileName; // file name and extension of the executable
extern std::string parentDir;   // same text as appDir (see parentDirOf)

enum PathRules { WindowsPaths, PosixPaths };

// The rules of the platform the launcher was built for.
extern const PathRules nativePathRules;

// Whether a byte opens a double-byte character of the ANSI code page. Its
// second byte may equal a backslash (0x5C in "ソ" of code page 932), which
// then separates nothing. Null: every character is one byte.
typedef bool (*LeadByteTest)(unsigned char c);
extern const LeadByteTest nativeLeadByte;

// The one separator test of the launcher's paths: where the last separator
// of path stands ('/', and '\\' with Windows rules, never the trail byte of a
// double-byte character such as 表 or ソ of code page 932); npos when none.
std::string::size_type lastSeparator(const std::string& path, PathRules rules, LeadByteTest leadByte);
// folder and name with one separator between them: none added where
// folder already ends in one. An empty folder gives name.
std::string joinPath(const std::string& folder, const std::string& name, PathRules rules, LeadByteTest leadByte);

// Splits a path the way the C runtime's _splitpath does: the drive ("C:",
// Windows rules only), the directory up to and including the last separator,
// the file name up to its last dot, and the extension from that dot.
void splitPath(const std::string& path, PathRules rules, std::string& drive,
               std::string& dir, std::string& fname, std::string& ext,
               LeadByteTest leadByte = 0);

// The parent path of dir as Boost.Filesystem computes it, plus the separator.
// A directory that ends in a separator has an empty last element, so for
// every appDir this gives appDir back.
std::string parentDirOf(const std::string& dir, PathRules rules, LeadByteTest leadByte = 0);

// Fills appDir, exeFileName and parentDir from the executable's full path.
void setModulePaths(const std::string& modulePath, PathRules rules, LeadByteTest leadByte = 0);

// The full path of the running executable, however long it is, as the
// launcher uses it: on Windows in the ANSI code page, in its short (8.3)
// form where the code page cannot spell the long one. Empty when there is
// no such path.
std::string currentModulePath();

// The executable's folder with its separator, as the user sees it (UTF-8);
// empty where that is appDir itself.
std::string currentModuleDirForUser();

// A path below appDir as the user sees it (UTF-8), for messages.
std::string pathForUser(const std::string& path);

// The user's own folders, each named name (made when missing), with its
// separator; empty, with a userFolderRefused= line where one is unfit,
// when there is none. For caches: in %LOCALAPPDATA% on Windows,
// $XDG_CACHE_HOME or ~/.cache on POSIX.
std::string userCacheFolder(const std::string& name);
// For records such as a log: in %LOCALAPPDATA% on Windows, $XDG_STATE_HOME
// or ~/.local/state on POSIX.
std::string userStateFolder(const std::string& name);

// The user's own settings folder for name, with its separator, whether or
// not it is there (nothing is made): in %APPDATA% on Windows, roaming with
// the user; $XDG_CONFIG_HOME or ~/.config on POSIX. Empty when there is
// none (Windows: also where the launcher could not open it, its path having
// neither an ANSI nor a short name).
std::string userConfigFolder(const std::string& name);

// The launcher's name: exeFileName less its extension.
std::string launcherName(const std::string& exeFileName);

// "-" and the FNV-1a hash of text: a short, stable name for it, such as
// for an application folder in a file name of the user's folder.
std::string hashSuffix(const std::string& text);

// Whether the launcher may go on with modulePath as its own path. Without
// a folder in it, every path would silently lead into the current directory.
bool ownFolderKnown(const std::string& modulePath, PathRules rules);

// Computes appDir, exeFileName, parentDir (and appDir as pathForUser shows
// it) for this process. 0 when the launcher's own folder cannot be had;
// the strings then stay as they were.
int setModuleFileName();
