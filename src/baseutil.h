// Text, message, console and file helpers used across the launcher.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Wide text (UTF-16 on Windows). Traits of its own, so that only the
// members the launcher uses are compiled in: std::wstring would link the
// C++ library's whole instance, some 32 KB of the static executable.
struct WideChars : std::char_traits<wchar_t> {};
typedef std::basic_string<wchar_t, WideChars> WideText;

// Shows a UTF-8 text in a modal error box (on POSIX: on standard error).
void MessageBox2(std::string msg);
// Shows an ASCII text in a modal error box (on POSIX: on standard error).
void MessageBox2(const char* message);
// Who else sees the launcher's output (the support log), registered once
// at start: line sees each line that writeLine writes (in the ANSI code
// page) and each box's text (Windows; UTF-8); footer gives the UTF-8 text
// that every box ends with, when not empty (where the log is, so that a
// user can send it). Either may be null.
struct OutputWatcher {
    void (*line)(const std::string& text, bool utf8);
    std::string (*footer)();
};
void watchOutput(const OutputWatcher& watcher);
// For the boxes of each platform: what the watcher is told, and the footer.
void tellOutputWatcher(const std::string& text, bool utf8);
std::string messageFooter();

// UTF-16 on Windows; on POSIX the platform's wide characters (UTF-32).
// Invalid UTF-8 is substituted, never an error; the text ends at a NUL.
WideText utf8ToWString(std::string utf8Str);

// Paths come in the ANSI code page; messages are UTF-8. Identity on POSIX.
std::string ansiToUtf8(const std::string& ansi);

// src with every occurrence of str1 replaced by str2, left to right; the
// inserted text is never searched again. An empty str1 returns src.
std::string Replace(std::string src, std::string str1, std::string str2);

// Well-formed UTF-8, as Java decodes it: no overlong forms, no
// surrogates, nothing past U+10FFFF.
bool validUtf8(const unsigned char* p, size_t len);
// Whether text holds a character below the blank or DEL, such as a line
// break that would add a line to a job or a record.
bool hasControlCharacter(const std::string& text);
// UTF-8 text in the ANSI code page, and true, only when every character
// has its exact counterpart there (Java gets its command line so). Identity
// on POSIX.
bool utf8ToAnsiExactly(const std::string& utf8, std::string& ansi);

// The pieces of text between the separators, empty ones included: "a::b"
// gives "a", "", "b"; "" gives one empty piece.
std::vector<std::string> splitAt(const std::string& text, char separator);

// Gives standard output a buffer. On Windows, unbuffered, the C runtime
// writes to a device such as NUL one character at a time, each a system
// call; on POSIX a buffer of our own spares stdio's allocation, and a
// terminal stays line-buffered. Standard error stays unbuffered, so that
// nothing on it is lost to an abort.
void bufferOutput();

// Writes text, every byte of it, and a newline. A line on standard error
// goes out at once, after everything written to standard output before it;
// standard output itself goes out on flushOutput or at exit.
void writeLine(std::FILE* stream, const std::string& text);
// Before a child that shares the streams starts, or a message box waits
// for the user: every line so far is out.
void flushOutput();

int isTrue(std::string str);   // 1 exactly for "y" and "Y"
int isEmpty(std::string str);  // 1 when str has no characters

// A new[] copy of str with its terminator; the caller delete[]s it.
char* stringToChar(std::string str);

// Gives the process a console bound to standard input, output and error
// (Windows); on POSIX the starter already chose where output goes.
void openConsole();

int fileExists(char* filePath);  // 1 when filePath is a file that can be opened for reading
int pathFileExists(const std::string& path);  // the same, for a path that is not to be changed
int createFile(char* filePath);  // writes "123456789"; 1 on success, else 0

// Conversions in the C runtime's current locale; the result ends at the
// first character that cannot be converted.
void narrow(const WideText& src, std::string& dest);
void widen(const std::string& src, WideText& dest);

// Results of readFileBytes.
enum ReadResult { ReadDone, ReadCannotOpen, ReadFailed };

// Appends the whole file to bytes, as the XML library's file stream reads
// it: in text mode on Windows. ReadFailed leaves the C library's error
// number in readError (0 when it gives none).
ReadResult readFileBytes(const std::string& path, std::vector<char>& bytes, int& readError);

// Makes the file's data durable (FlushFileBuffers, fsync): a rename alone
// is journaled without it, and a power loss could leave zeroed ranges
// under the new name. False when it could not be done.
bool flushFileToDisk(const std::string& path);
// After a rename: makes the folder's new entry durable (POSIX; Windows
// journals it).
void flushFolderOf(const std::string& path);

// Results of replaceFile.
enum ReplaceResult { Replaced, ReplaceBusy, ReplaceFailed };

// Puts the file from in place of the file to in one step: at every moment
// either the old or the new file stands at to. ReplaceBusy means another
// program holds one of them for now, and a later try may succeed. error:
// the system's error number when it was not Replaced.
ReplaceResult replaceFile(const std::string& from, const std::string& to, unsigned long& error);
// What a failed replace's error number (GetLastError, errno) means: only a
// file held by another program can pass on a later try. Windows reports
// that as a sharing or lock violation, and also as access denied (a held
// target, a delete pending); access denied by a folder in the way, or by a
// folder the user cannot write (folderWritable false), never passes.
ReplaceResult replaceResultOf(unsigned long error, bool folderInTheWay, bool folderWritable);

// Whether the launcher's own test write into dir (ending in a separator)
// succeeds; it leaves nothing behind.
bool canCreateFilesIn(const std::string& dir);

// UAC file and registry virtualization of this process (Windows): a 32-bit
// program without a manifest, run by a standard user, writes into Program
// Files "successfully" into the user's VirtualStore, where Java, which has
// a manifest, is refused.
enum Virtualization { NotVirtualized, VirtualizationTurnedOff, StillVirtualized };
extern Virtualization virtualization;
// Whether a folder counts as writable for Java from the launcher's own test
// write: never while the launcher's writes may be virtualized.
bool writableForJava(bool testWriteSucceeded, Virtualization state);

// Whether the launcher may create files in dir (ending in a separator)
// that Java may use: its test write, judged with the virtualization state.
bool folderWritable(const std::string& dir);

// A file's facts, or its absence.
struct FileFacts {
    std::string path;
    bool exists;
    unsigned long long size;
    long long time;
};
// Platform: the facts of the file at path.
FileFacts fileFacts(const std::string& path);
// Platform: the jars (.jar, .JAR) in dir, sorted, each as dir + name.
std::vector<std::string> jarsIn(const std::string& dir);
// Platform: removes a file, read-only or not; false when it stays.
bool removeFile(const std::string& path);
// Platform: the names of the files in dir that begin with prefix.
std::vector<std::string> namesStartingWith(const std::string& dir, const std::string& prefix);
// Platform: the bytes that this user may still write on dir's volume; the
// largest number when the system does not say.
unsigned long long freeSpaceIn(const std::string& dir);

// Called once at start: (Windows) DLLs only from the system folder, and
// virtualization off, with a line when it was on. Nothing on POSIX.
void guardProcess();

// A file opened for reads at any offset, shared with other readers, and
// its size; NULL when it cannot be opened or is no file.
void* openFileForReading(const std::string& path, unsigned long long& size);
// Up to len bytes at offset: the count read (fewer at the end), -1 on an error.
long readFileAt(void* file, unsigned long long offset, unsigned char* out, unsigned long len);
void closeFileForReading(void* file);

// The launcher's own small files (a record, a job, a mark, a class list),
// in folders that others may be able to write: only a regular file, never
// through a link at path, never waiting on a FIFO or a device.
// Reads at most limit bytes; false, with why, for anything else (why is
// empty where nothing is there). With mineOnly, also false for a file
// of another user (POSIX; Windows does not tell it cheaply).
bool readOwnFile(const std::string& path, size_t limit, std::string& text, std::string& why, bool mineOnly = false);
// Makes the file anew with text: whatever stands at path (a link, a FIFO,
// an old copy) is removed first, and the new file is created where none
// is, so a link planted meanwhile is refused, not followed.
bool writeOwnFile(const std::string& path, const std::string& text, std::string& why);

// 1 when path names an existing file that is marked read-only.
int isReadOnlyFile(const std::string& path);

void sleepMilliseconds(int ms);
// Milliseconds of a steady clock, for measuring waits.
long long steadyMilliseconds();
