#include "supportlog.h"

#include <windows.h>

#include "procutil.h"

const char* const logLineEnd = "\r\n";

std::string logTimeNow() {
    FILETIME utc, local;
    GetSystemTimeAsFileTime(&utc);
    FileTimeToLocalFileTime(&utc, &local);
    ULARGE_INTEGER u, l;
    u.LowPart = utc.dwLowDateTime;
    u.HighPart = utc.dwHighDateTime;
    l.LowPart = local.dwLowDateTime;
    l.HighPart = local.dwHighDateTime;
    long long offsetMinutes = (static_cast<long long>(l.QuadPart) - static_cast<long long>(u.QuadPart)) / 600000000LL;
    SYSTEMTIME st;
    FileTimeToSystemTime(&local, &st);
    return logTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds,
                   static_cast<int>(offsetMinutes));
}

std::string systemDescription() {
    // GetVersionEx reports Windows 8 to a program without a manifest.
    typedef LONG(WINAPI * RtlGetVersionProc)(OSVERSIONINFOW*);
    RtlGetVersionProc getVersion = reinterpret_cast<RtlGetVersionProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOW version;
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    std::string text = "Windows";
    if (getVersion != NULL && getVersion(&version) == 0)
        text += " " + std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) + "." +
                std::to_string(version.dwBuildNumber);
    unsigned machine = nativeMachine();
    if (machine != 0) text += ", " + machineName(machine);
    BOOL wow64 = FALSE;
    if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64) text += ", the launcher runs emulated (WOW64)";
    return text;
}

void* openLogFile(const std::string& path) {
    // Appends of other starts, and the renaming of a full log, go on while
    // it is open; Java does not inherit it.
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE) return NULL;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        CloseHandle(file);
        return NULL;
    }
    return file;
}

// The volume and the file's index: the same file, under whatever name.
static bool fileIdentity(HANDLE file, unsigned long long& id, DWORD& volume) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return false;
    id = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    volume = info.dwVolumeSerialNumber;
    return true;
}

bool logFileIsAt(void* file, const std::string& path) {
    HANDLE there = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (there == INVALID_HANDLE_VALUE) return false;
    unsigned long long a = 0, b = 0;
    DWORD va = 0, vb = 0;
    bool same = fileIdentity(static_cast<HANDLE>(file), a, va) && fileIdentity(there, b, vb) && a == b && va == vb;
    CloseHandle(there);
    return same;
}

void* lockLogRotation(const std::string& path) {
    HANDLE lock = CreateFileA((path + ".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (lock == INVALID_HANDLE_VALUE) return NULL;
    OVERLAPPED at = OVERLAPPED();
    if (GetFileType(lock) != FILE_TYPE_DISK || !LockFileEx(lock, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
        CloseHandle(lock);
        return NULL;
    }
    return lock;
}

void unlockLogRotation(void* lock) {
    // Closing the handle releases its lock.
    if (lock != NULL) CloseHandle(static_cast<HANDLE>(lock));
}

long long logFileSize(void* file) {
    LARGE_INTEGER size;
    return GetFileSizeEx(file, &size) ? size.QuadPart : 0;
}

bool appendToLog(void* file, const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL) && written == bytes.size();
}

void closeLogFile(void* file) {
    CloseHandle(file);
}

// Made on the first use, on the launcher's own thread, before any reader
// of Java's standard error runs.
static CRITICAL_SECTION logLock;
static bool logLockMade = false;

void lockLog() {
    if (!logLockMade) {
        InitializeCriticalSection(&logLock);
        logLockMade = true;
    }
    EnterCriticalSection(&logLock);
}

void unlockLog() {
    LeaveCriticalSection(&logLock);
}
