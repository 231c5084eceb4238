// What a Java runtime is: its executable, its home and version, as the
// launcher finds them for the configured value and for the Java search.
#pragma once

#include <string>

#include "apppaths.h"

// A Java executable that exists, where it was found, and its major
// version (0: unknown).
struct JavaRuntime {
    std::string executable;
    std::string place;
    int version;
    std::string foreignMachine;  // the processor it is built for, when this system cannot run it
};

// The configured value as a runtime, the program that the runner would
// start for it (findProgram). False when it names none.
bool configuredJavaRuntime(const std::string& javaPath, JavaRuntime& runtime);

// The runtime at executable, found at place; its version read from its
// release file unless the place gave one.
JavaRuntime javaRuntimeAt(const std::string& executable, const std::string& place, int version = 0);

// The processor executable is built for, when this system cannot run it;
// empty when it can, or cannot tell (POSIX: always empty).
std::string foreignMachineOf(const std::string& executable);

// The major version in a version text: "17", "17.0.9", "21-ea" and
// "17.0.9.9" give their first number, the old "1.8.0_392" form gives 8,
// "zulu-17" gives 17. 0 when there is none.
int javaMajorVersion(const std::string& text);

// Orders version texts newest first, number by number ("17.0.10" before
// "17.0.9"), the old "1.N" form as N.
bool newerJavaVersion(const std::string& a, const std::string& b);

// The major version that a runtime's release file gives in its
// JAVA_VERSION line; 0 when it has none.
int releaseFileVersion(const std::string& releaseText);

// The file name to look for in each runtime's bin folder: that of the
// configured value, quotes dropped; the platform's Java when it has none.
std::string javaExecutableName(const std::string& javaPath, PathRules rules);

// The home of the runtime whose executable this is (the folder above bin),
// with its separator; empty when the path has no folder above one.
std::string javaHomeOf(const std::string& executable);

// The major version of the runtime whose executable this is, read from
// the release file of its home (the folder above bin); 0 when unknown.
int installedJavaVersion(const std::string& executable);
