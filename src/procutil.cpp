#include "procutil.h"

static bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::vector<std::string> splitCommandLine(const std::string& commandLine) {
    std::vector<std::string> args;
    std::string::size_type i = 0, n = commandLine.size();
    while (i < n && isBlank(commandLine[i])) ++i;
    if (i >= n) return args;

    // The program name is a path: quotes may group anywhere in it and are
    // dropped, a backslash is just a backslash.
    std::string program;
    bool quoted = false;
    for (; i < n && (quoted || !isBlank(commandLine[i])); ++i) {
        if (commandLine[i] == '"') quoted = !quoted;
        else program += commandLine[i];
    }
    args.push_back(program);

    for (;;) {
        while (i < n && isBlank(commandLine[i])) ++i;
        if (i >= n) break;
        std::string arg;
        bool quoted = false;
        while (i < n && (quoted || !isBlank(commandLine[i]))) {
            char c = commandLine[i];
            if (c == '\\') {
                std::string::size_type slashes = 0;
                while (i < n && commandLine[i] == '\\') { ++slashes; ++i; }
                if (i < n && commandLine[i] == '"') {
                    arg.append(slashes / 2, '\\');
                    if (slashes % 2 == 1) { arg += '"'; ++i; }
                } else {
                    arg.append(slashes, '\\');
                }
            } else if (c == '"') {
                if (quoted && i + 1 < n && commandLine[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                arg += c;
                ++i;
            }
        }
        args.push_back(arg);
    }
    return args;
}
