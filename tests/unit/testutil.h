// Helpers shared by the unit tests.
#pragma once

#include <string>

// A new empty folder for one test; its path ends in the separator.
std::string makeTempDir();
// Removes every folder makeTempDir made, with all it holds.
void removeTempDirs();
void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);  // "<missing>" when it cannot be read
bool pathExists(const std::string& path);
void makeDir(const std::string& path);

// The folder of the test binary (ending in the separator) and the Java
// stand-in built beside it.
std::string testBinaryDir();
std::string fakeJavaPath();

// Grows with the handles (Windows) or file descriptors (POSIX) left open.
long openHandleCount();

// Opens path so that nobody may delete, rename or write it until
// releaseHeldFile (Windows); returns false where the platform has no such lock.
bool holdFile(const std::string& path);
void releaseHeldFile();

// Runs the rest of a test binary invocation that asked to act as a helper
// process; returns -1 when argv asks for nothing special.
int runHelperMode(int argc, char** argv);

// Marks path read-only the platform's way.
void makeReadOnly(const std::string& path);

// The bytes of a jar (a stored zip archive) of entries files, each
// holding content; in the Zip64 form when asked (the manifest's fields in
// it too with manifestInZip64), with a trailing comment.
std::string jarBytes(const std::string& content, int entries = 1, bool zip64 = false,
                     const std::string& comment = "", bool manifestInZip64 = false);

// Splits captured output into lines.
#include <vector>
std::vector<std::string> linesOf(const std::string& text);

// Lead bytes of code page 932 (Japanese Windows).
bool cp932Lead(unsigned char c);
