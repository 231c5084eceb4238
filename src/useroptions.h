// The user's own JVM options for the main application (the key
// userOptions): a file in the user's settings folder, so that a user can
// give an installed application more memory or a system property without
// an administrator. The vendor's boot definition stays the vendor's.
#pragma once

#include <string>
#include <vector>

// Reads the user's file, when wanted (the key is set), with lines saying
// where it is, each option taken and each one refused. A missing file is
// no error.
void readUserOptions(bool wanted);
// Its options for the main application's command line, each after a
// blank; empty without the key or the file.
std::string userJavaOptions();

// The file's options: its lines, trimmed, blank lines and # comments
// passed over, CR LF ends as LF ones, a byte order mark dropped.
std::vector<std::string> userOptionLines(const std::string& text);
// Why option is not one that a user may give: empty when it is one. It must
// be one JVM option (begin with "-"; a blank only in a -D property's value),
// and not one that changes which program or classes run (-jar, -cp,
// --module-path, an agent, -XX:Flags=, ...) or what the launcher itself
// sets (the class archive, crash reports).
std::string userOptionFault(const std::string& option);

// The most a user's file may hold.
const size_t USER_OPTIONS_LIMIT = 64 * 1024;
