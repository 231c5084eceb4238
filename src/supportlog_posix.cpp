#include "supportlog.h"

#include "baseutil_posix.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <ctime>

const char* const logLineEnd = "\n";

std::string logTimeNow() {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    return logTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                   static_cast<int>(now.tv_nsec / 1000000), static_cast<int>(local.tm_gmtoff / 60));
}

std::string systemDescription() {
    struct utsname name;
    if (uname(&name) != 0) return "unknown";
    std::string text = std::string(name.sysname) + " " + name.release + ", " + name.machine;
    if (sizeof(void*) == 4 && std::string(name.machine) == "x86_64") text += ", the launcher built for 32 bits";
    return text;
}

// The descriptor, plus one: NULL stays "none".
void* openLogFile(const std::string& path) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(fd);
        return NULL;
    }
    // Never as a standard descriptor that the starter closed: lines for
    // standard error would land in it raw, and Java's would not be kept.
    fd = aboveStandard(fd);
    return fd < 0 ? NULL : reinterpret_cast<void*>(static_cast<long>(fd) + 1);
}

static int descriptorOf(void* file) {
    return static_cast<int>(reinterpret_cast<long>(file) - 1);
}

long long logFileSize(void* file) {
    struct stat st;
    return fstat(descriptorOf(file), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

bool appendToLog(void* file, const std::string& bytes) {
    // One write per line: lines of two starts at once never mix.
    ssize_t written;
    do written = write(descriptorOf(file), bytes.data(), bytes.size()); while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(bytes.size());
}

void closeLogFile(void* file) {
    close(descriptorOf(file));
}

bool logFileIsAt(void* file, const std::string& path) {
    struct stat open, there;
    return fstat(descriptorOf(file), &open) == 0 && lstat(path.c_str(), &there) == 0 && open.st_dev == there.st_dev &&
           open.st_ino == there.st_ino;
}

void* lockLogRotation(const std::string& path) {
    int fd = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flock(fd, LOCK_EX) != 0)) {
        close(fd);
        fd = -1;
    }
    return fd < 0 ? NULL : reinterpret_cast<void*>(static_cast<long>(fd) + 1);
}

void unlockLogRotation(void* lock) {
    if (lock != NULL) close(descriptorOf(lock));
}

static pthread_mutex_t logLock = PTHREAD_MUTEX_INITIALIZER;

void lockLog() {
    pthread_mutex_lock(&logLock);
}

void unlockLog() {
    pthread_mutex_unlock(&logLock);
}
