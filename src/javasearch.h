// Finding a Java runtime when the boot definition's own is missing or too
// old (the keys javaSearch, javaMinVersion and javaDownload).
#pragma once

#include <string>
#include <vector>

#include "baseutil.h"
#include "javaruntime.h"

// A REG_EXPAND_SZ value read from the 64-bit view of the registry, with the
// 64-bit program folders in place of %ProgramFiles% and
// %CommonProgramFiles%, which a 32-bit process's environment gives as the
// "(x86)" ones. Empty replacements (32-bit Windows) change nothing.
WideText withNativeProgramFolders(const WideText& value, const WideText& programFiles,
                                      const WideText& commonProgramFiles);

// Every runtime the search finds, in its order, each home once: JAVA_HOME,
// then (Windows) the registry or (POSIX) /usr/lib/jvm, then PATH.
std::vector<JavaRuntime> searchJavaRuntimes(const std::string& executableName);

// Platform: whether path names a file a runtime can be started from
// (POSIX: an executable one).
bool isJavaProgram(const std::string& path);

// The first of runtimes at or above minVersion (0: any); each is written
// as a diagnostic line with its verdict. -1 when none fits.
int firstFittingRuntime(const std::vector<JavaRuntime>& runtimes, int minVersion);

// The message when no runtime fits.
std::string javaMissingMessage(const std::string& configuredForUser, int minVersion,
                               const std::string& download);

// The executable to put first on the command line for the configured
// value, the keys applied: javaPath itself when it fits, else the first
// runtime found that does; empty when none does.
std::string chooseJavaRuntime(const std::string& javaPath, bool search, int minVersion);
