#include "testutil.h"

#include <boost/interprocess/sync/file_lock.hpp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "apppaths.h"
#include "baseutil.h"

#ifdef _WIN32
#include <windows.h>
#include <direct.h>
#else
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

static std::vector<std::string> madeDirs;

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out << content;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool pathExists(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && (p[p.size() - 1] == '/' || p[p.size() - 1] == '\\')) p.erase(p.size() - 1);
#ifdef _WIN32
    return GetFileAttributesA(p.c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    struct stat st;
    return stat(p.c_str(), &st) == 0;
#endif
}

std::string testBinaryDir() {
    std::string drive, dir, fname, ext;
    splitPath(currentModulePath(), nativePathRules, drive, dir, fname, ext);
    return drive + dir;
}

std::string fakeJavaPath() {
#ifdef _WIN32
    return testBinaryDir() + "fakejava.exe";
#else
    return testBinaryDir() + "fakejava";
#endif
}

#ifdef _WIN32
std::string makeTempDir() {
    static int counter = 0;
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    for (;;) {
        std::ostringstream name;
        name << base << "launcher-test-" << GetCurrentProcessId() << "-" << ++counter;
        if (CreateDirectoryA(name.str().c_str(), NULL)) {
            madeDirs.push_back(name.str());
            return name.str() + "\\";
        }
    }
}

static void removeTree(const std::string& dir) {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = dir + "\\" + name;
            DWORD attributes = found.dwFileAttributes;
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);  // read-only ones too
                DeleteFileA(path.c_str());
            } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                RemoveDirectoryA(path.c_str());  // a link: never what it points to
            } else {
                removeTree(path);
            }
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

void makeDir(const std::string& path) { CreateDirectoryA(path.c_str(), NULL); }

long openHandleCount() {
    // Wine's GetProcessHandleCount misses process handles: count the
    // handle values the system still answers for instead.
    long count = 0;
    for (uintptr_t value = 4; value < 4 * 16384; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

static HANDLE heldFile = INVALID_HANDLE_VALUE;

bool holdFile(const std::string& path) {
    heldFile = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    return heldFile != INVALID_HANDLE_VALUE;
}

void releaseHeldFile() {
    if (heldFile != INVALID_HANDLE_VALUE) CloseHandle(heldFile);
    heldFile = INVALID_HANDLE_VALUE;
}
#else
std::string makeTempDir() {
    char name[] = "/tmp/launcher-test-XXXXXX";
    madeDirs.push_back(mkdtemp(name));
    return madeDirs.back() + "/";
}

static int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    remove(path);
    return 0;
}

static void removeTree(const std::string& dir) {
    nftw(dir.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void makeDir(const std::string& path) { mkdir(path.c_str(), 0755); }

long openHandleCount() {
    long count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dir != NULL && readdir(dir) != NULL) ++count;
    if (dir != NULL) closedir(dir);
    return count;
}

bool holdFile(const std::string&) { return false; }
void releaseHeldFile() {}
#endif

void removeTempDirs() {
    for (size_t i = 0; i < madeDirs.size(); ++i) removeTree(madeDirs[i]);
    madeDirs.clear();
}

int runHelperMode(int argc, char** argv) {
    // --hold-lock FILE MS: lock FILE exclusively, say so in FILE.locked,
    // keep the lock for MS milliseconds.
    if (argc == 4 && std::strcmp(argv[1], "--hold-lock") == 0) {
        boost::interprocess::file_lock lock(argv[2]);
        lock.lock();
        writeFile(std::string(argv[2]) + ".locked", "yes");
        sleepMilliseconds(std::atoi(argv[3]));
        lock.unlock();
        return 0;
    }
    return -1;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

#ifdef _WIN32
void makeReadOnly(const std::string& path) { SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY); }
#else
void makeReadOnly(const std::string& path) { chmod(path.c_str(), 0444); }
#endif

static void put(std::string& out, unsigned long long value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string jarBytes(const std::string& content, int entries, bool zip64, const std::string& comment,
                     bool manifestInZip64) {
    std::string out, central;
    for (int i = 0; i < entries; ++i) {
        // A jar: its manifest first, as the jar tool writes it.
        std::string name = i == 0 ? "META-INF/MANIFEST.MF" : "demo/file" + std::to_string(i) + ".txt";
        unsigned long long offset = out.size();
        put(out, 0x04034b50, 4);
        put(out, 10, 2), put(out, 0, 2), put(out, 0, 2), put(out, 0, 4), put(out, 0, 4);  // stored, no CRC check here
        put(out, content.size(), 4), put(out, content.size(), 4);
        put(out, name.size(), 2), put(out, 0, 2);
        out += name + content;

        // Zip64 as writers that use it for every entry but the manifest
        // (which java -jar reads without it).
        bool offset64 = zip64 && (i > 0 || manifestInZip64);
        put(central, 0x02014b50, 4);
        put(central, zip64 ? 45 : 10, 2), put(central, zip64 ? 45 : 10, 2);
        put(central, 0, 2), put(central, 0, 2), put(central, 0, 4), put(central, 0, 4);
        put(central, content.size(), 4), put(central, content.size(), 4);
        put(central, name.size(), 2), put(central, offset64 ? 12 : 0, 2), put(central, 0, 2);
        put(central, 0, 2), put(central, 0, 2), put(central, 0, 4);
        put(central, offset64 ? 0xFFFFFFFFull : offset, 4);
        central += name;
        if (offset64) put(central, 1, 2), put(central, 8, 2), put(central, offset, 8);
    }
    unsigned long long centralOffset = out.size();
    out += central;
    if (zip64) {
        unsigned long long end64 = out.size();
        put(out, 0x06064b50, 4), put(out, 44, 8), put(out, 45, 2), put(out, 45, 2), put(out, 0, 4), put(out, 0, 4);
        put(out, entries, 8), put(out, entries, 8), put(out, central.size(), 8), put(out, centralOffset, 8);
        put(out, 0x07064b50, 4), put(out, 0, 4), put(out, end64, 8), put(out, 1, 4);
    }
    put(out, 0x06054b50, 4), put(out, 0, 2), put(out, 0, 2);
    put(out, zip64 ? 0xFFFF : entries, 2), put(out, zip64 ? 0xFFFF : entries, 2);
    put(out, zip64 ? 0xFFFFFFFFull : central.size(), 4), put(out, zip64 ? 0xFFFFFFFFull : centralOffset, 4);
    put(out, comment.size(), 2);
    return out + comment;
}

bool cp932Lead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
