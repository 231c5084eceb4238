// What only the POSIX build has of the Java search.
#pragma once

#include <string>
#include <vector>

#include "javasearch.h"

// The search with its places given: JAVA_HOME's value, a folder of
// runtime homes (/usr/lib/jvm), newest first, and PATH's value.
std::vector<JavaRuntime> searchJavaRuntimesIn(const std::string& executableName, const std::string& javaHome,
                                              const std::string& runtimesRoot, const std::string& pathValue);
