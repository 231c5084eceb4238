// Starting a child process from a complete command line and waiting for it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "apppaths.h"

#ifdef _WIN32
#include <windows.h>
typedef HANDLE ChildHandle;
typedef HANDLE ChildInput;
#define NO_CHILD_INPUT NULL
#else
#include <sys/types.h>
typedef pid_t ChildHandle;  // 0 when there is none
typedef int ChildInput;
#define NO_CHILD_INPUT (-1)
#endif

// The latest child started; replaced (and the previous one released) by
// each successful start.
extern ChildHandle childProcess;
// Its process id.
extern unsigned long childProcessId;

// Who else sees the children (the support log), registered once at start.
// started is called by execute right after a child has started, while it
// starts: work done there costs the start no time. Where keepsErrors says
// so, a child's standard error goes to errors when the launcher has none
// of its own to pass on (POSIX: descriptor 2 closed; Windows: as
// capturesChildErrors says): each chunk, as the launcher drains it from a
// pipe while it waits (on Windows, a thread of its own), so that the child
// never waits on it. Else it goes nowhere, as without. Any may be null.
typedef void (*ErrorSink)(const char* bytes, size_t len);
struct ChildWatcher {
    void (*started)();
    bool (*keepsErrors)();
    ErrorSink errors;
};
void watchChildren(const ChildWatcher& watcher);
// For the runner of each platform: what the watcher is told.
void childHasStarted();
bool childErrorsKept();
void keepChildErrors(const char* bytes, size_t len);
// Windows: whether a child's standard error goes to the sink. Only where
// the launcher has neither standard output nor error, and only for a GUI
// program (javaw.exe): a console program (java.exe) started so gets a
// console window of its own, where its output shows as ever.
bool capturesChildErrors(bool launcherHasOutput, bool launcherHasError, unsigned childSubsystem);

// Starts program (found by findProgram) with lpCommandLine in lpCurrentDir
// (NULL: the launcher's own) and, when doWait is non-zero, waits for it.
// The command line goes to the child as it is; its first word is never
// searched for. Returns the child's exit code, 0 right after the start when
// not waiting, or 1 on any failure, a program that findProgram cannot find
// included. input, when given, is the child's standard input (the read end
// of a pipe, inheritable on Windows); execute closes it either way.
int execute(const std::string& program, char* lpCommandLine, const char* lpCurrentDir, int doWait,
            ChildInput input = NO_CHILD_INPUT);

// The program that a "java" value names: the text inside its quotes, the
// value itself, or, where options of its own follow it ("java -Dx=y"), its
// first word. Empty for an unquoted value with a blank that goes on with no
// option: a path with blanks that names no file (else it would have been
// quoted). Windows would try each prefix of it as a program, and
// "C:\Users\taro\My.exe" would run for "C:\Users\taro\My App\jre\...".
std::string programOfJavaValue(const std::string& javaValue);

// Where to look for program, in order, never in the current folder (a
// document's folder, say, when a file association started us): an absolute
// path as it is; a relative one below appDir, the application's own
// folder; a bare name (Windows) in appDir, then in systemFolders, then in
// each absolute folder of pathValue, or (POSIX) in each absolute folder of
// pathValue. Windows adds ".exe" to a name without an extension. Separators
// as leadByte's code page has them (a 表 that ends a folder is no separator).
std::vector<std::string> programCandidates(const std::string& program, PathRules rules, const std::string& appDir,
                                           const std::vector<std::string>& systemFolders,
                                           const std::string& pathValue, LeadByteTest leadByte = 0);

// Whether path is absolute by rules: a root, a drive (Windows, "C:dir"
// too, which names no current folder of ours) or a \\server share.
bool isAbsolutePath(const std::string& path, PathRules rules);

// PATH as the program search reads it: on Windows read wide, each absolute
// folder in a form that the ANSI code page names (a short form where it
// lacks a character; left out where there is neither), joined by ';'; on
// POSIX as it is, "/bin:/usr/bin" where it is unset.
std::string pathForPrograms();

// The absolute folders of a PATH value, in order, quotes dropped (Windows):
// a relative one ("." or an empty entry) is the current folder, no place
// to take a program from.
std::vector<std::string> absolutePathFolders(const std::string& pathValue, PathRules rules);

// How the children show on the desktop, registered once at start, by up
// to two features: the AppUserModelID that each starts with (Windows;
// empty: none, as without), and a watcher of a child that the launcher
// waits for, from its start (with its process id) to its end. Any may be
// null.
struct ChildDesktop {
    std::string (*appId)();
    void (*started)(unsigned long pid);
    void (*ended)();
};
void presentChildren(const ChildDesktop& desktop);
// For the runner of each platform: what the registration says.
std::string childAppId();
void childWindowsStarted(unsigned long pid);
void childWindowsEnded();

// Platform: the first of programCandidates that is a file that can be
// started, with this system's folders and PATH; empty when there is none.
std::string findProgram(const std::string& program);

// The machine type of a PE image from its first bytes (0x014C x86, 0x8664
// x64, 0xAA64 ARM64); 0 when they hold no PE header.
unsigned peMachine(const unsigned char* head, size_t size);
// The subsystem of a PE image from its first bytes (2 GUI, as javaw.exe;
// 3 console, as java.exe); 0 when they do not hold it.
unsigned peSubsystem(const unsigned char* head, size_t size);
// Whether Windows on nativeMachine runs a program built for machine: x86
// everywhere, x64 on x64 and (emulated) on ARM64, ARM64 on ARM64 only. An
// unknown type (0) is not held against the program.
bool machineRunsOn(unsigned machine, unsigned nativeMachine);
// The processor's name for a line: "x86", "x64", "ARM64", else its number.
std::string machineName(unsigned machine);
// Platform: the machine this Windows runs on natively, whatever this
// process is; 0 when it cannot tell (POSIX: always).
unsigned nativeMachine();
// The machine and the subsystem of the program file at path; 0 when unknown.
unsigned programMachine(const std::string& path);
unsigned programSubsystem(const std::string& path);

// Platform: path with its symbolic links resolved, as /usr/bin/java leads
// to its runtime's home (POSIX); path itself on Windows.
std::string resolvedProgram(const std::string& path);

// Platform: this process's id, for names that two starts at once keep apart.
unsigned long processId();
// Platform: whether the process of that id still runs.
bool processRunning(unsigned long pid);

// Starts the launcher itself again in the background, detached from this
// run (POSIX: a session of its own), with no output and no window, at the
// lowest priority, with the environment variable name set to value, in
// the folder dir (never the current one, which may be a document's on a
// stick that must stay removable). Empty when started, else why not.
std::string startSelfInBackground(const std::string& name, const std::string& value, const std::string& dir);

// How a process that must outlive the launcher is started from a launcher
// in a job object (Windows: Run As, a Remote Desktop "Start a program",
// Task Scheduler, a terminal's tab start programs in one), by the job's
// limit flags: processes created in a job are in it, and a job that kills
// its processes when its last handle closes would end it with the starter.
enum JobStart {
    StartPlainly,       // no job, one that lets children out by itself, or one that kills none
    StartBreakingAway,  // CREATE_BREAKAWAY_FROM_JOB, which the job allows
    StartNot,           // a job that kills its processes and lets none out
};
JobStart jobStartOf(bool inJob, unsigned long limitFlags);

// Runs program with commandLine in dir, its output nowhere, behind every
// other program (POSIX: the idle scheduling class and idle disk priority,
// which the child inherits), and waits; its exit code, or -1 when it could
// not start. Meanwhile giveWay is asked every QUIET_POLL_MS: when it says
// yes the child is ended at once and the result is RUN_GAVE_WAY.
const int QUIET_POLL_MS = 20;
const int RUN_GAVE_WAY = -2;
int runQuietly(const std::string& program, const std::string& commandLine, const std::string& dir,
               bool (*giveWay)());

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
