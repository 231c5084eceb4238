// Starting a child process from a complete command line and waiting for it.
#pragma once

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
typedef HANDLE ChildHandle;
#else
#include <sys/types.h>
typedef pid_t ChildHandle;  // 0 when there is none
#endif

// The latest child started; replaced (and the previous one released) by
// each successful start.
extern ChildHandle childProcess;

// Starts lpCommandLine in lpCurrentDir (NULL: the launcher's own) and, when
// doWait is non-zero, waits for it. Returns the child's exit code, 0 right
// after the start when not waiting, or 1 on any failure.
int execute(char* lpCommandLine, const char* lpCurrentDir, int doWait);

// Called once at start-up, before any child is started: makes sure the
// launcher itself can wait for its children, whatever its starter set up.
void prepareProcessRunner();

// Releases childProcess; called once the launcher is done with children.
void releaseChildProcess();

// Splits a command line into arguments with the rules of the Microsoft C
// runtime, so that one boot definition means the same on every platform:
// the program name runs to the first blank or tab outside double quotes,
// which are dropped, and takes no escapes; in the arguments, double quotes
// group, 2n backslashes before a quote give n backslashes, 2n+1 give n and
// a literal quote, and "" inside quotes is a literal quote.
std::vector<std::string> splitCommandLine(const std::string& commandLine);
