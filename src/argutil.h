// The launcher's own arguments, for the main application's command line
// ("Open with", a file association).
#pragma once

#include <string>
#include <vector>

// arg as one word that the Microsoft C runtime, and splitCommandLine, read
// back as exactly arg. Quoted only when it is empty or holds a blank, a
// tab or a double quote; inside the quotes a double quote becomes \" and
// backslashes are doubled only before a quote or the closing quote.
std::string quoteArgument(const std::string& arg);

// Each of args after one blank, quoted as needed.
std::string quoteArguments(const std::vector<std::string>& args);

// The launcher's arguments after its program name, as quoteArguments gives
// them, in the encoding of the command lines the launcher starts. Returns
// 0 when one of them cannot reach Java intact; unpassable then holds it in
// UTF-8, as the user gave it.
int launcherArguments(int argc, char** argv, std::string& quoted, std::string& unpassable);
