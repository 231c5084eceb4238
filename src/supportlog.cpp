#include "supportlog.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "apppaths.h"
#include "argutil.h"
#include "baseutil.h"
#include "procutil.h"

// The file stays below this; when a line would pass it, the file becomes
// NAME.1 (replacing an older one) and a new one begins.
static const long long LOG_LIMIT = 1024 * 1024, BLOCK_ROOM = 64 * 1024;
// Of Java's standard error, each start keeps this much: a Java process that
// writes without end never pushes the starts before it out of the log.
static const size_t ERROR_BUDGET = 256 * 1024, ERROR_LINE = 4096;
static const size_t CRASH_REPORTS_KEPT = 5;

// Lines are kept until the key is known, as written: without the key
// nothing more is done with them.
struct KeptLine {
    long long ms;
    std::string text;
    bool utf8;
};
static bool keeping = false;
static std::vector<KeptLine> kept;
static long long startMs = 0;
static void* logFile = NULL;
static std::string logPath, logFolder;
static long long javaStartMs = 0;
static unsigned long pid = 0;   // of this start, on each of its lines
static ErrorLines javaErrors(ERROR_BUDGET, ERROR_LINE);

std::string logLine(unsigned long pid, long long ms, const std::string& text) {
    return std::to_string(pid) + " +" + std::to_string(ms) + " " + text;
}

std::string logHeaderLine(unsigned long pid, const std::string& text) {
    return std::to_string(pid) + " " + text;
}

static std::string twoDigits(int n) {
    return (n < 10 ? "0" : "") + std::to_string(n);
}

std::string logTime(int year, int month, int day, int hour, int minute, int second, int ms, int offsetMinutes) {
    int offset = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    std::string millis = std::to_string(1000 + ms).substr(1);
    return std::to_string(year) + "-" + twoDigits(month) + "-" + twoDigits(day) + " " + twoDigits(hour) + ":" +
           twoDigits(minute) + ":" + twoDigits(second) + "." + millis + " " + (offsetMinutes < 0 ? "-" : "+") +
           twoDigits(offset / 60) + ":" + twoDigits(offset % 60);
}

std::string supportLogName(const std::string& exeFileName, const std::string& appDir) {
    return launcherName(exeFileName) + hashSuffix(appDir) + ".log";
}

static bool newerFirst(const std::pair<std::string, long long>& a, const std::pair<std::string, long long>& b) {
    return a.second != b.second ? a.second > b.second : a.first > b.first;
}

std::vector<std::string> crashReportsToRemove(std::vector<std::pair<std::string, long long> > reports,
                                              size_t keep) {
    std::sort(reports.begin(), reports.end(), newerFirst);
    std::vector<std::string> old;
    for (size_t i = keep; i < reports.size(); ++i) old.push_back(reports[i].first);
    return old;
}

ErrorLines::ErrorLines(size_t budget, size_t maxLine)
    : budget_(budget), maxLine_(maxLine), kept_(0), dropped_(0) {}

void ErrorLines::take(std::vector<std::string>& out, const std::string& line) {
    if (kept_ + line.size() > budget_) {
        dropped_ += line.size() + 1;
        return;
    }
    kept_ += line.size() + 1;
    out.push_back(line);
}

std::vector<std::string> ErrorLines::feed(const char* bytes, size_t len) {
    std::vector<std::string> out;
    for (size_t i = 0; i < len; ++i) {
        char c = bytes[i];
        if (c == '\n') {
            if (!partial_.empty() && partial_[partial_.size() - 1] == '\r') partial_.erase(partial_.size() - 1);
            take(out, partial_);
            partial_.clear();
        } else if (partial_.size() < maxLine_) {
            partial_ += c;
        } else {
            take(out, partial_);
            partial_.assign(1, c);
        }
    }
    return out;
}

std::vector<std::string> ErrorLines::finish() {
    std::vector<std::string> out;
    if (!partial_.empty()) take(out, partial_);
    partial_.clear();
    if (dropped_ > 0) {
        out.push_back("(" + std::to_string(dropped_) + " more bytes of standard error not kept)");
        dropped_ = 0;
    }
    return out;
}

// What the log watches: the launcher's lines (kept, then written), and
// once it is open, Java's standard error and starts; the boxes' footer.
static bool watchingLines = false, keepingJavaErrors = false, watchingStarts = false;
static std::string footer;

static std::string pending;  // lines not yet in the file
static bool headerDue = false;  // the header is not in it yet either

// The time of the start, which was a few milliseconds ago; the system; the
// environment that changes what Java does.
static std::string logHeader() {
    std::string header = logHeaderLine(pid, "==== " + logTimeNow()) + logLineEnd;
    header += logHeaderLine(pid, "launcher: " + ansiToUtf8(appDir + exeFileName)) + logLineEnd;
    header += logHeaderLine(pid, "system: " + systemDescription()) + logLineEnd;
    const char* variables[] = {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS", "JDK_JAVA_OPTIONS"};
    for (size_t i = 0; i < sizeof(variables) / sizeof(variables[0]); ++i) {
        const char* value = std::getenv(variables[i]);
        header += logHeaderLine(pid, std::string(variables[i]) + ": " +
                                         (value != NULL ? ansiToUtf8(value) : std::string("(not set)"))) +
                  logLineEnd;
    }
    return header;
}

// Begins the log anew, the full one kept as .1: only the file that this
// start still holds at the log's path, under a lock between starts. One
// that another start renamed meanwhile is its .1 already, and its new file
// the log now. False, with the log closed, when the full one stays: it
// would grow without bound.
static bool rotateLog() {
    void* lock = lockLogRotation(logPath);
    unsigned long error = 0;
    bool rotated = !logFileIsAt(logFile, logPath) || replaceFile(logPath, logPath + ".1", error) == Replaced;
    closeLogFile(logFile);
    logFile = rotated ? openLogFile(logPath) : NULL;
    unlockLogRotation(lock);
    return logFile != NULL;
}

// Said once, on standard output only, and nothing more is tried; no box
// names a file that did not take its lines.
static void stopLog(const std::string& why) {
    if (logFile != NULL) closeLogFile(logFile);
    logFile = NULL;
    watchingLines = false;
    footer.clear();
    writeLine(stdout, "logNotWritten=" + logPath + ": " + why);
}

// The lines so far, in one write: a few per start, and two starts at once
// never mix their lines. Called with the lock held.
static void flushLog() {
    if (logFile == NULL || pending.empty()) return;
    if (headerDue) pending = logHeader() + pending;
    headerDue = false;
    if (logFileSize(logFile) + static_cast<long long>(pending.size()) > LOG_LIMIT && !rotateLog()) {
        pending.clear();
        stopLog("it is full and cannot be renamed to " + logPath + ".1");
        return;
    }
    bool written = appendToLog(logFile, pending);
    pending.clear();
    if (!written) stopLog("a line could not be written");
}

// A text of several lines (a message with its footer) becomes as many
// lines of the log, each with the process id and the time; the blank ones
// between are left out.
static void appendLines(long long ms, const std::string& text, bool utf8) {
    std::vector<std::string> lines = splitAt(utf8 ? text : ansiToUtf8(text), '\n');
    for (size_t i = 0; i < lines.size(); ++i)
        if (!lines[i].empty() || i + 1 == lines.size()) pending += logLine(pid, ms, lines[i]) + logLineEnd;
}

// A line of the launcher's: kept as it is until the key is known, then
// for the file; with flush, into it at once.
static void recordLine(const std::string& text, bool utf8, bool flush = false) {
    long long ms = steadyMilliseconds() - startMs;
    if (keeping) {
        KeptLine line = {ms, text, utf8};
        kept.push_back(line);
        return;
    }
    lockLog();
    appendLines(ms, text, utf8);
    if (flush) flushLog();
    unlockLog();
}

static const char BOX[] = "message box: ";

static void observeLine(const std::string& text, bool utf8) {
    if (!watchingLines) return;
    // A box waits for the user, who may look at the log meanwhile.
    recordLine(text, utf8, text.compare(0, sizeof(BOX) - 1, BOX) == 0);
}

static bool closed = false;  // the launcher is ending: nothing more is kept

// Java's standard error, where the launcher has none to pass on: into the
// file as it comes. A grandchild that keeps the pipe open may outlive the
// wait for the reader, even the launcher's run: after that it is passed
// over, before anything of it is touched.
static void keepJavaError(const char* bytes, size_t len) {
    lockLog();
    if (!closed) {
        std::vector<std::string> lines = javaErrors.feed(bytes, len);
        long long ms = steadyMilliseconds() - startMs;
        for (size_t i = 0; i < lines.size(); ++i) pending += logLine(pid, ms, "java: " + ansiToUtf8(lines[i])) + logLineEnd;
        flushLog();
    }
    unlockLog();
}

// What led to a start is in the file while Java runs. Written as Java
// starts, the header and the lines cost the start nothing: the launcher
// would only wait.
static void flushAtChildStart() {
    if (!watchingStarts) return;
    lockLog();
    flushLog();
    unlockLog();
}

static bool keepsJavaErrors() {
    return keepingJavaErrors;
}

static std::string boxFooter() {
    return footer;
}

const OutputWatcher supportLogOutput = {observeLine, boxFooter};
const ChildWatcher supportLogChildren = {flushAtChildStart, keepsJavaErrors, keepJavaError};

void beginSupportLog() {
    startMs = steadyMilliseconds();
    pid = processId();
    keeping = true;
    watchingLines = true;
}

void placeSupportLog(bool wanted) {
    if (!keeping) return;
    std::vector<KeptLine> lines;
    lines.swap(kept);
    keeping = false;
    watchingLines = false;  // for good without the key; with it, until it is open
    if (!wanted) return;
    logFolder = userStateFolder(launcherName(exeFileName));
    if (logFolder.empty()) {
        writeLine(stdout, "logNotWritten=the user's folder for it cannot be made");
        return;
    }
    logPath = logFolder + supportLogName(exeFileName, appDir);
    logFile = openLogFile(logPath);
    // A start's lines in one file, as a rule: a log near its limit begins
    // anew before it.
    if (logFile == NULL) {
        writeLine(stdout, "logNotWritten=" + logPath + ": it cannot be opened as a file");
        return;
    }
    if (logFileSize(logFile) > LOG_LIMIT - BLOCK_ROOM && !rotateLog()) {
        writeLine(stdout, "logNotWritten=" + logPath + ": it is full and cannot be renamed to " + logPath + ".1");
        return;
    }

    headerDue = true;
    for (size_t i = 0; i < lines.size(); ++i) appendLines(lines[i].ms, lines[i].text, lines[i].utf8);
    watchingLines = true;
    keepingJavaErrors = true;
    watchingStarts = true;
    footer = "\n\n起動の記録: " + ansiToUtf8(logPath) + " (お問い合わせの際はこのファイルを添えてください)";
    writeLine(stdout, "log=" + logPath);
}

std::string supportLogJavaOptions() {
    if (logFile == NULL) return std::string();
    return " " + quoteArgument("-XX:ErrorFile=" + logFolder + "hs_err_pid%p.log");
}

void supportLogJavaStarted() {
    javaStartMs = steadyMilliseconds();
}

// The JVM's crash reports in folder (hs_err_pidPID.log), with their times.
static std::vector<std::pair<std::string, long long> > crashReportsIn(const std::string& folder) {
    std::vector<std::pair<std::string, long long> > reports;
    std::vector<std::string> names = namesStartingWith(folder, "hs_err_pid");
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        if (name.size() < 14 || name.compare(name.size() - 4, 4, ".log") != 0) continue;
        FileFacts facts = fileFacts(folder + name);
        if (facts.exists) reports.push_back(std::make_pair(folder + name, facts.time));
    }
    return reports;
}

void supportLogJavaEnded(int exitCode, unsigned long processId) {
    if (logFile == NULL) return;
    lockLog();
    std::vector<std::string> rest = javaErrors.finish();
    unlockLog();
    for (size_t i = 0; i < rest.size(); ++i) recordLine("java: " + ansiToUtf8(rest[i]), true);
    recordLine("java ended with exit code " + std::to_string(exitCode) + " after " +
                   std::to_string(steadyMilliseconds() - javaStartMs) + " ms",
               false);
    std::string report = logFolder + "hs_err_pid" + std::to_string(processId) + ".log";
    if (processId == 0 || !pathFileExists(report)) return;
    recordLine("crash report: " + report, false, true);
    // The folder keeps the newest few.
    std::vector<std::string> old = crashReportsToRemove(crashReportsIn(logFolder), CRASH_REPORTS_KEPT);
    for (size_t i = 0; i < old.size(); ++i) removeFile(old[i]);
}

void endSupportLog(int status) {
    if (logFile == NULL) return;
    recordLine("exit status " + std::to_string(status), false, true);
    lockLog();
    closed = true;
    watchingLines = false;
    watchingStarts = false;
    if (logFile != NULL) closeLogFile(logFile);
    logFile = NULL;
    unlockLog();
}
