// A record of every start for support (the key log): a file in the user's
// own folder that keeps, for each start, a header, every diagnostic line
// with its time, each Java process's end, Java's standard error where the
// launcher has none of its own, and the launcher's exit status. Nothing of
// it changes what runs: a log that cannot be written only says so.
#pragma once

#include <string>
#include <vector>

#include "baseutil.h"
#include "procutil.h"

// What the log watches, for the launch frame to register once.
extern const OutputWatcher supportLogOutput;
extern const ChildWatcher supportLogChildren;
// At the very start: lines are kept from here until the key is known.
void beginSupportLog();
// From readBootXml: with the key, the log is opened and the kept lines go
// into it; without, they are dropped and nothing more is kept.
void placeSupportLog(bool wanted);
// The options for both Java command lines, each after a blank: crash
// reports into the log's folder. Empty without a log.
std::string supportLogJavaOptions();
// Around each Java process: its exit code and run time, and its crash
// report where it left one.
void supportLogJavaStarted();
void supportLogJavaEnded(int exitCode, unsigned long processId);
// The last line, with the launcher's exit status.
void endSupportLog(int status);

// What the log's lines look like: "PID +MS text", the milliseconds since
// the start; a header line has no time.
std::string logLine(unsigned long pid, long long ms, const std::string& text);
std::string logHeaderLine(unsigned long pid, const std::string& text);
// A local time with its offset from UTC: "2026-12-09 14:53:01.234 +09:00".
std::string logTime(int year, int month, int day, int hour, int minute, int second, int ms, int offsetMinutes);
// The log's file name: after the launcher and the application folder.
std::string supportLogName(const std::string& exeFileName, const std::string& appDir);
// Of the crash reports (name, time), the ones beyond the newest keep.
std::vector<std::string> crashReportsToRemove(std::vector<std::pair<std::string, long long> > reports,
                                              size_t keep);
// Java's standard error as kept: whole lines, each at most maxLine bytes;
// beyond budget bytes in all, nothing more but a count of what was not
// kept. feed takes each chunk as it comes; lines come out complete.
class ErrorLines {
public:
    ErrorLines(size_t budget, size_t maxLine);
    std::vector<std::string> feed(const char* bytes, size_t len);
    // At the end: the unfinished line, and how much was dropped.
    std::vector<std::string> finish();

private:
    size_t budget_, maxLine_, kept_;
    unsigned long long dropped_;
    std::string partial_;
    void take(std::vector<std::string>& out, const std::string& line);
};

// Platform: the local time now, as logTime gives it.
std::string logTimeNow();
// Platform: the system, its processor, and whether the launcher runs
// emulated on it.
std::string systemDescription();
// Platform: the log file, opened to append, shared with other starts and
// renamable while open; NULL when it cannot be, and when path names no
// regular file (a link, a FIFO: never waited on). Its size now.
void* openLogFile(const std::string& path);
long long logFileSize(void* file);
// Platform: whether file is still the one at path, not one that another
// start's rotation renamed away.
bool logFileIsAt(void* file, const std::string& path);
// Platform: holds the lock that starts rotate the log at path under; NULL
// when it cannot be had. Released by unlockLogRotation.
void* lockLogRotation(const std::string& path);
void unlockLogRotation(void* lock);
bool appendToLog(void* file, const std::string& bytes);
void closeLogFile(void* file);
// Platform: the line end of text files here.
extern const char* const logLineEnd;
// Platform: one writer at a time (the launcher's thread, the reader of
// Java's standard error).
void lockLog();
void unlockLog();
