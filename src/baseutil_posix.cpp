#include "baseutil_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>

// There is no message box: the text goes where the user or the starter
// looks for errors.
void MessageBox2(const char* message) {
    writeLine(stderr, message + messageFooter());
}

void MessageBox2(std::string msg) {
    writeLine(stderr, msg + messageFooter());
}

WideText utf8ToWString(std::string utf8Str) {
    WideText out;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(utf8Str.c_str());
    while (*s) {
        unsigned char c = *s;
        int len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        unsigned long cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
        int i = 1;
        for (; i < len && (s[i] & 0xC0) == 0x80; ++i) cp = (cp << 6) | (s[i] & 0x3F);
        bool overlong = (len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
        if (len == 0 || i < len || overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out += static_cast<wchar_t>(0xFFFD);  // as Windows substitutes
            s += (len == 0 || i == 0) ? 1 : i;
            continue;
        }
        out += static_cast<wchar_t>(cp);
        s += len;
    }
    return out;
}

std::string ansiToUtf8(const std::string& ansi) {
    return ansi;
}

void bufferOutput() {
    // A buffer of our own spares the heap page and the fstat that stdio
    // spends on its first write. A terminal keeps its lines as they come.
    static char buffer[4096];
    setvbuf(stdout, buffer, isatty(STDOUT_FILENO) ? _IOLBF : _IOFBF, sizeof(buffer));
}

void openConsole() {
}

ReadResult readFileBytes(const std::string& path, std::vector<char>& bytes, int& readError) {
    // Straight from the descriptor: a stdio stream would first allocate a
    // buffer of its own, which costs more than reading a small file.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return ReadCannotOpen;
    char chunk[4096];
    ssize_t got;
    while ((got = read(fd, chunk, sizeof(chunk))) != 0) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            readError = errno;
            close(fd);
            return ReadFailed;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    close(fd);
    return ReadDone;
}

int fileExists(char* filePath) {
    // Opening for reading, as fopen would, without its stream. That succeeds
    // on a directory here, unlike on Windows: a directory named like the
    // file must not count.
    int fd = open(filePath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat st;
    int isFile = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    close(fd);
    return isFile ? 1 : 0;
}

#include <cerrno>
#include <time.h>

ReplaceResult replaceResultOf(unsigned long error, bool, bool) {
    // A POSIX rename is refused by a holder only on a busy mount or program.
    return error == EBUSY || error == ETXTBSY ? ReplaceBusy : ReplaceFailed;
}

ReplaceResult replaceFile(const std::string& from, const std::string& to, unsigned long& error) {
    error = 0;
    if (std::rename(from.c_str(), to.c_str()) == 0) return Replaced;
    error = static_cast<unsigned long>(errno);
    return replaceResultOf(error, false, true);
}

bool canCreateFilesIn(const std::string& dir) {
    // A real write, as the JVM will make: the mode bits alone do not tell
    // (root writes anyway, a read-only mount refuses anyway).
    std::string probe = dir + ".launcher-write-test";
    int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return errno == EEXIST && access(dir.c_str(), W_OK) == 0;
    close(fd);
    unlink(probe.c_str());
    return true;
}

void guardProcess() {
    // Nothing here loads libraries by name or virtualizes writes.
}

void* openFileForReading(const std::string& path, unsigned long long& size) {
    // Never waiting on a FIFO: it is no file to read.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return NULL;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return NULL;
    }
    size = static_cast<unsigned long long>(st.st_size);
    return new int(fd);
}

long readFileAt(void* file, unsigned long long offset, unsigned char* out, unsigned long len) {
    int fd = *static_cast<int*>(file);
    unsigned long done = 0;
    while (done < len) {
        ssize_t got = pread(fd, out + done, len - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<unsigned long>(got);
    }
    return static_cast<long>(done);
}

void closeFileForReading(void* file) {
    close(*static_cast<int*>(file));
    delete static_cast<int*>(file);
}

int isReadOnlyFile(const std::string& path) {
    // By the mode bits, as the read-only attribute works on Windows: even
    // root must not replace a jar that nobody may write.
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return 0;
    return (st.st_mode & 0222) == 0 ? 1 : 0;
}

void sleepMilliseconds(int ms) {
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = (ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

static std::string systemError(int error) {
    return std::string(std::strerror(error));
}

bool readOwnFile(const std::string& path, size_t limit, std::string& text, std::string& why, bool mineOnly) {
    text.clear();
    why.clear();
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) why = errno == ELOOP ? "it is a link" : systemError(errno);
        return false;
    }
    struct stat st;
    bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    bool mine = !mineOnly || (regular && st.st_uid == geteuid());
    if (!regular || !mine || static_cast<unsigned long long>(st.st_size) > limit) {
        why = !regular ? "it is not a regular file"
              : !mine  ? "another user owns it"
                       : "it is larger than " + std::to_string(limit) + " bytes";
        close(fd);
        return false;
    }
    char buf[8192];
    ssize_t got;
    while ((got = read(fd, buf, sizeof(buf))) > 0 && text.size() <= limit) text.append(buf, static_cast<size_t>(got));
    int error = errno;
    close(fd);
    if (got < 0) why = systemError(error);
    else if (text.size() > limit) why = "it is larger than " + std::to_string(limit) + " bytes";
    else return true;
    text.clear();
    return false;
}

bool writeOwnFile(const std::string& path, const std::string& text, std::string& why) {
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        why = systemError(errno);
        return false;
    }
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = systemError(errno);
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        ssize_t put = write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        done += static_cast<size_t>(put);
    }
    int error = errno;
    if (close(fd) != 0 && done == text.size()) error = errno, done = 0;
    if (done == text.size()) return true;
    why = systemError(error);
    unlink(path.c_str());
    return false;
}

bool flushFileToDisk(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    bool flushed = fsync(fd) == 0;
    close(fd);
    return flushed;
}

void flushFolderOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

long long steadyMilliseconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

FileFacts fileFacts(const std::string& path) {
    struct stat st;
    FileFacts facts = {path, stat(path.c_str(), &st) == 0, 0, 0};
    if (facts.exists) {
        facts.size = static_cast<unsigned long long>(st.st_size);
        facts.time = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    }
    return facts;
}

std::vector<std::string> jarsIn(const std::string& dir) {
    std::vector<std::string> jars;
    DIR* folder = opendir(dir.empty() ? "." : dir.c_str());
    if (folder == NULL) return jars;
    while (struct dirent* entry = readdir(folder)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && (name.compare(name.size() - 4, 4, ".jar") == 0 ||
                                name.compare(name.size() - 4, 4, ".JAR") == 0))
            jars.push_back(dir + name);
    }
    closedir(folder);
    std::sort(jars.begin(), jars.end());
    return jars;
}

bool removeFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

std::vector<std::string> namesStartingWith(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> names;
    DIR* folder = opendir(dir.empty() ? "." : dir.c_str());
    if (folder == NULL) return names;
    while (struct dirent* entry = readdir(folder))
        if (std::string(entry->d_name).compare(0, prefix.size(), prefix) == 0) names.push_back(entry->d_name);
    closedir(folder);
    return names;
}

unsigned long long freeSpaceIn(const std::string& dir) {
    struct statvfs st;
    if (statvfs(dir.empty() ? "." : dir.c_str(), &st) != 0) return ~0ULL;
    return static_cast<unsigned long long>(st.f_bavail) * st.f_frsize;
}

int aboveStandard(int fd) {
    if (fd < 0 || fd > 2) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

bool utf8ToAnsiExactly(const std::string& utf8, std::string& ansi) {
    ansi = utf8;
    return true;
}
