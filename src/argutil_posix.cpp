#include "argutil.h"

// The bytes reach the child as they came: there is no code page to leave.
int launcherArguments(int argc, char** argv, std::string& quoted, std::string&) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    quoted = quoteArguments(args);
    return 1;
}
