// Utilities the launch sequence does not call: a timed file lock, the
// splitter for a GUI entry point's command line, a local time line and a
// console test of Japanese output.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
typedef void* HINSTANCE;
typedef char* LPSTR;
#endif

// Tries for about a second to lock filePath exclusively; says how it went
// on standard output. Always 0.
int fileLock(std::string filePath);

// The arguments of a GUI command line: only the blank separates, a
// double quote opens a group that runs to the next quote (no escapes).
// Each argument is terminated in place in cmdLine; the result points into it.
std::vector<char*> splitWinArgs(char* cmdLine);

// The same split, with the parameter list of the GUI entry point.
void parseWinArg(HINSTANCE hCurInst, HINSTANCE hPrevInst, LPSTR lpsCmdLine, int nCmdShow);

// The local time line for the given calendar time, as getYYYYMMDDhhmmss prints it.
std::string formatLocalTime(const struct tm& local);

// Prints the current local time line. Always 0.
int getYYYYMMDDhhmmss();

// Writes Japanese text to the console in several ways, each labelled.
void characterCodeTest();
