// Launch control: the launch sequence, the staged update swap, the update
// loop and the assembly of the Java command line.
#pragma once

#include <string>

#include "baseutil.h"
#include "procutil.h"

extern std::string javaCommandLine;  // the updater's; the main application's begins with it
extern std::string javaProgram;      // the program it starts (programOfJavaValue)
extern int passArgs;                 // the boot definition asks for the launcher's arguments
extern std::string jar2;             // the "-jar" item exactly as the file gives it
extern int EXIT_doUpdate;            // the main application asks for the updater

// The command line from the looked-up values, the placeholders of javaPath
// (and jvmOptions) already replaced: javaPath, a blank, each memory option
// after a blank, jvmOptions after a blank (javaOptionsPart), then " -cp ",
// " -jar ", args and the main class each after a blank (javaClassPart).
std::string javaOptionsPart(const std::string& javaPath, const std::string& Xmn, const std::string& Xms,
                            const std::string& Xmx, const std::string& jvmOptions);
std::string javaClassPart(const std::string& cp, const std::string& jar, const std::string& args,
                          const std::string& javaMainClass);
std::string buildCommandLine(const std::string& javaPath, const std::string& Xmn,
                             const std::string& Xms, const std::string& Xmx,
                             const std::string& cp, const std::string& jar,
                             const std::string& args, const std::string& javaMainClass,
                             const std::string& jvmOptions = std::string());

// The "java" value with ${APP_DIR} and ${PARENT_DIR} replaced.
std::string replacePlaceholders(const std::string& javaPath, const std::string& appDirValue,
                                const std::string& parentDirValue);

// An unquoted path with a blank must be quoted, or Windows tries its first
// word as a program ("C:\Program.exe"). isFile says whether javaPath names
// an existing file; anything else (a value with its own options) stays.
std::string quoteJavaPath(const std::string& javaPath, int isFile);

// The main application's command line: javaCommandLine with the user's
// options, then the launcher's own (the log's, the archive's) after the
// vendor's JVM options, then the passed arguments.
std::string mainCommandLine(const std::string& archiveOptions);

// The message for a boot definition file that cannot be used.
std::string bootFailureMessage(const std::string& bootXmPath);
// The message for a folder that neither the ANSI code page nor a short
// (8.3) name can spell, named as the user sees it.
std::string folderUnusableMessage(const std::string& folderForUser);
// The message for a launcher that cannot find its own folder.
extern const char* const ownLocationUnknownMessage;
// The message for an updater that did not end with 0.
std::string updateFailureMessage(int exitCode2);
// The message for a launcher argument that cannot reach Java intact (UTF-8).
std::string unpassableArgumentMessage(const std::string& argument);

// Fills passedArguments. When an argument cannot be passed, the message
// that names it, and nothing may start; else empty.
std::string readLauncherArguments(int argc, char** argv);

void readBootXml(std::string bootXmPath);
void renameUpFile();
// How long renameUpFile waits before it tries the swap again, after a try
// with that result and waited milliseconds of waiting so far; 0: no more tries.
int swapRetryDelay(ReplaceResult result, int waited);
int launchJava(std::string currentDir, std::string commandLine, int doWait, ChildInput input = NO_CHILD_INPUT);
int launchMainApp();
int launchUpdater();
int moduleUpdate(std::string updaterPath);
void runUpdateLoop();

// Everything main does, from the argument lines to the exit status.
int launcherMain(int argc, char** argv);
