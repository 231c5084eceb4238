// A class-data archive that the launcher keeps for the main application
// (the key classArchive): the JVM maps the classes it archived at an
// earlier start instead of loading them again.
#pragma once

#include <string>

// The options that give the JVM of this major version its archive, each
// after a blank, with the JVM's archive messages off: JDK 13-18 make one
// at exit or use the one there is, JDK 19-24 keep theirs up to date, JDK 25
// and later keep an ahead-of-time cache. Empty below 13.
std::string classArchiveOptions(int javaVersion, const std::string& archive, bool exists);

// The launcher's name: exeFileName less its extension.
std::string launcherName(const std::string& exeFileName);

// The archive's file name: after the launcher (launcherName), and in the
// user's folder, which applications of the same name share, also after
// the application folder; with JVM options of the vendor's (jvmOptions),
// also after those, since the JVM ignores an archive made under others.
std::string classArchiveName(const std::string& exeFileName, const std::string& appDir, bool inUserFolder,
                             int javaVersion, const std::string& jvmOptions = std::string());

// Whether the launcher may create files in dir (ending in a separator).
bool folderWritable(const std::string& dir);

// The user's folder for caches, below the local application data
// (%LOCALAPPDATA% on Windows, $XDG_CACHE_HOME or ~/.cache on POSIX), in a
// folder named name, made when missing; with its separator. Empty when
// there is none.
std::string userCacheFolder(const std::string& name);
