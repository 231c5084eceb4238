// The launcher's own paths: everything it touches is found relative to them.
#pragma once

#include <string>

extern std::string appDir;      // directory of the executable, ending in a separator
extern std::string exeFileName; // file name and extension of the executable
extern std::string parentDir;   // same text as appDir (see parentDirOf)

enum PathRules { WindowsPaths, PosixPaths };

// The rules of the platform the launcher was built for.
extern const PathRules nativePathRules;

// Splits a path the way the C runtime's _splitpath does: the drive ("C:",
// Windows rules only), the directory up to and including the last separator,
// the file name up to its last dot, and the extension from that dot.
void splitPath(const std::string& path, PathRules rules, std::string& drive,
               std::string& dir, std::string& fname, std::string& ext);

// The parent path of dir as Boost.Filesystem computes it, plus the separator.
// A directory that ends in a separator has an empty last element, so for
// every appDir this gives appDir back.
std::string parentDirOf(const std::string& dir, PathRules rules);

// Fills appDir, exeFileName and parentDir from the executable's full path.
void setModulePaths(const std::string& modulePath, PathRules rules);

// The full path of the running executable, however long it is.
std::string currentModulePath();

// Whether the launcher may go on with modulePath as its own path. Without
// a folder in it, every path would silently lead into the current directory.
bool ownFolderKnown(const std::string& modulePath, PathRules rules);

// Computes appDir, exeFileName and parentDir for this process. 0 when the
// launcher's own folder cannot be had; the strings then stay as they were.
int setModuleFileName();
