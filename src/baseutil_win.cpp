#include "baseutil_win.h"

#include "apppaths.h"

#include <windows.h>
#include <cerrno>
#include <cstdio>
#include <vector>

void* systemProc(const char* dll, const char* name) {
    HMODULE module = LoadLibraryExA(dll, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == NULL) {
        char system[MAX_PATH];
        UINT n = GetSystemDirectoryA(system, MAX_PATH);
        if (n > 0 && n < MAX_PATH) module = LoadLibraryA((std::string(system) + "\\" + dll).c_str());
    }
    return module != NULL ? reinterpret_cast<void*>(GetProcAddress(module, name)) : NULL;
}

static void* user32Proc(const char* name) {
    return systemProc("user32.dll", name);
}

typedef int(WINAPI* MessageBoxAProc)(HWND, LPCSTR, LPCSTR, UINT);
typedef int(WINAPI* MessageBoxWProc)(HWND, LPCWSTR, LPCWSTR, UINT);

void MessageBox2(const char* message) {
    // A footer is Japanese: the wide box shows it.
    if (!messageFooter().empty()) return MessageBox2(std::string(message));
    flushOutput();  // the lines so far are out while the box waits
    MessageBoxAProc box = reinterpret_cast<MessageBoxAProc>(user32Proc("MessageBoxA"));
    if (box != NULL) box(NULL, message, "Error", MB_OK);
}

void MessageBox2(std::string msg) {
    tellOutputWatcher("message box: " + msg, true);
    WideText wStr = utf8ToWString(msg + messageFooter());
    flushOutput();
    MessageBoxWProc box = reinterpret_cast<MessageBoxWProc>(user32Proc("MessageBoxW"));
    if (box != NULL) box(NULL, wStr.c_str(), L"Error", MB_OK);
}

WideText utf8ToWString(std::string utf8Str) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8Str.c_str(), -1, NULL, 0);
    if (n <= 0) return WideText();
    std::vector<wchar_t> buf(n);
    int done = MultiByteToWideChar(CP_UTF8, 0, utf8Str.c_str(), -1, &buf[0], n);
    if (done <= 0) return WideText();
    return WideText(&buf[0], done - 1);
}

void bufferOutput() {
    setvbuf(stdout, NULL, _IOFBF, 4096);
}

bool consoleEventIgnored(unsigned long ctrlType) {
    return ctrlType == CTRL_C_EVENT || ctrlType == CTRL_BREAK_EVENT;
}

// A handler function is not inherited, so Java still gets its Ctrl+C.
static BOOL WINAPI keepWaitingForJava(DWORD ctrlType) {
    return consoleEventIgnored(ctrlType) ? TRUE : FALSE;
}

void openConsole() {
    AllocConsole();
    freopen("CON", "r", stdin);
    freopen("CON", "w", stdout);
    // The reason for a broken boot definition goes to standard error: a
    // console that showed only standard output would hide it.
    freopen("CON", "w", stderr);
    // Ctrl+C in the console would end the launcher while Java runs on, and
    // an application that then asks for its update would never get it.
    SetConsoleCtrlHandler(keepWaitingForJava, TRUE);
}

typedef BOOL(WINAPI* SetDefaultDllDirectoriesProc)(DWORD);

void guardProcess() {
    // Windows 8 and later, or 7 with KB2533623: looked up, not imported.
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    SetDefaultDllDirectoriesProc setDirs = reinterpret_cast<SetDefaultDllDirectoriesProc>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
    if (setDirs != NULL) setDirs(LOAD_LIBRARY_SEARCH_SYSTEM32);

    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_DEFAULT, &token) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return;  // nothing to learn: as on every system without UAC
    DWORD enabled = 0, size = 0;
    if (GetTokenInformation(token, TokenVirtualizationEnabled, &enabled, sizeof(enabled), &size) && enabled) {
        DWORD off = 0;
        BOOL done = SetTokenInformation(token, TokenVirtualizationEnabled, &off, sizeof(off));
        virtualization = done ? VirtualizationTurnedOff : StillVirtualized;
        writeLine(stdout, done ? "virtualization=turned off: the launcher's writes go where Java's go"
                               : "virtualization=on, cannot be turned off: no folder counts as writable");
    }
    CloseHandle(token);
}

ReadResult readFileBytes(const std::string& path, std::vector<char>& bytes, int& readError) {
    // Text mode, as the library's read_xml(filename) opens its file stream:
    // the same bytes and the same errors.
    FILE* file = fopen(path.c_str(), "r");
    if (file == NULL) return ReadCannotOpen;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (got < sizeof(chunk)) break;  // the end, or an error that ferror tells
    }
    bool failed = ferror(file) != 0;
    readError = failed ? errno : 0;
    fclose(file);
    return failed ? ReadFailed : ReadDone;
}

int fileExists(char* filePath) {
    FILE* fp = fopen(filePath, "r");
    if (fp == NULL) return 0;
    fclose(fp);
    return 1;
}

bool canCreateFilesIn(const std::string& dir) {
    // A real write, as the JVM will make: Program Files refuses it by its
    // access rights, which no attribute shows.
    std::string probe = dir + ".launcher-write-test";
    // CREATE_ALWAYS: a probe left by a start that was cut short is ours too.
    HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

ReplaceResult replaceResultOf(unsigned long error, bool folderInTheWay, bool folderWritable) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return ReplaceBusy;
    if (error == ERROR_ACCESS_DENIED && !folderInTheWay && folderWritable) return ReplaceBusy;
    return ReplaceFailed;
}

static bool isFolder(const std::string& path) {
    DWORD attrs = GetFileAttributesA(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

ReplaceResult replaceFile(const std::string& from, const std::string& to, unsigned long& error) {
    error = 0;
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return Replaced;
    error = GetLastError();
    if (error != ERROR_ACCESS_DENIED) return replaceResultOf(error, false, true);
    // Held, or refused for good? Only the second is worth no wait.
    std::string drive, dir, fname, ext;
    splitPath(to, WindowsPaths, drive, dir, fname, ext, nativeLeadByte);
    bool inTheWay = isFolder(from) || isFolder(to);
    // The test write that knows the token: into the VirtualStore it
    // "succeeds" where the real folder refuses.
    return replaceResultOf(error, inTheWay, !inTheWay && folderWritable(drive + dir));
}

void* openFileForReading(const std::string& path, unsigned long long& size) {
    // Others may go on reading, writing or even renaming it meanwhile, as
    // they may while the jar itself is read.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS, NULL);
    if (file == INVALID_HANDLE_VALUE) return NULL;
    LARGE_INTEGER length;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &length)) {
        CloseHandle(file);
        return NULL;
    }
    size = static_cast<unsigned long long>(length.QuadPart);
    return file;
}

long readFileAt(void* file, unsigned long long offset, unsigned char* out, unsigned long len) {
    unsigned long done = 0;
    while (done < len) {
        OVERLAPPED at = OVERLAPPED();
        at.Offset = static_cast<DWORD>(offset + done);
        at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
        DWORD got = 0;
        if (!ReadFile(static_cast<HANDLE>(file), out + done, len - done, &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return static_cast<long>(done);
}

void closeFileForReading(void* file) {
    CloseHandle(static_cast<HANDLE>(file));
}

int isReadOnlyFile(const std::string& path) {
    DWORD attrs = GetFileAttributesA(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) return 0;
    return (attrs & FILE_ATTRIBUTE_READONLY) ? 1 : 0;
}

void sleepMilliseconds(int ms) {
    Sleep(static_cast<DWORD>(ms));
}

std::string wideToUtf8(const WideText& wide) {
    if (wide.empty()) return std::string();
    int size = static_cast<int>(wide.size());
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), size, NULL, 0, NULL, NULL);
    if (n <= 0) return std::string();
    std::vector<char> buf(n);
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), size, &buf[0], n, NULL, NULL);
    return std::string(&buf[0], n);
}

static WideText ansiToWide(const std::string& ansi) {
    if (ansi.empty()) return WideText();
    int size = static_cast<int>(ansi.size());
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), size, NULL, 0);
    if (n <= 0) return WideText();
    std::vector<wchar_t> buf(n);
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), size, &buf[0], n);
    return WideText(&buf[0], n);
}

std::string ansiToUtf8(const std::string& ansi) {
    // Unconvertible text is shown as it came rather than not at all.
    std::string utf8 = wideToUtf8(ansiToWide(ansi));
    return utf8.empty() ? ansi : utf8;
}

bool toAnsiExactly(const WideText& wide, std::string& ansi) {
    ansi.clear();
    if (wide.empty()) return true;
    // A UTF-8 code page refuses both the flag and the question.
    bool utf8 = GetACP() == CP_UTF8;
    DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* used = utf8 ? NULL : &usedDefault;
    int size = static_cast<int>(wide.size());
    int n = WideCharToMultiByte(CP_ACP, flags, wide.c_str(), size, NULL, 0, NULL, used);
    if (n <= 0 || usedDefault) return false;
    std::vector<char> buf(n);
    if (WideCharToMultiByte(CP_ACP, flags, wide.c_str(), size, &buf[0], n, NULL, used) != n || usedDefault)
        return false;
    ansi.assign(&buf[0], n);
    return ansiToWide(ansi) == wide;
}

std::string usableAnsiPath(const WideText& wide) {
    std::string ansi;
    if (toAnsiExactly(wide, ansi)) return ansi;
    if (toAnsiExactly(shortPath(wide), ansi)) return ansi;
    return std::string();
}

WideText shortPath(const WideText& path) {
    DWORD n = GetShortPathNameW(path.c_str(), NULL, 0);
    if (n == 0) return WideText();
    std::vector<wchar_t> buf(n);
    DWORD m = GetShortPathNameW(path.c_str(), &buf[0], n);
    if (m == 0 || m >= n) return WideText();
    return WideText(&buf[0], m);
}

static std::string systemError(DWORD error) {
    return "system error " + std::to_string(error);
}

bool readOwnFile(const std::string& path, size_t limit, std::string& text, std::string& why, bool) {
    text.clear();
    why.clear();
    // The link itself, never what it names; shared, as others may read too.
    HANDLE file = CreateFileW(ansiToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) why = systemError(error);
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    bool regular = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
                   (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    unsigned long long size = regular ? (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow : 0;
    if (!regular || size > limit) {
        why = !regular ? "it is not a regular file" : "it is larger than " + std::to_string(limit) + " bytes";
        CloseHandle(file);
        return false;
    }
    text.resize(static_cast<size_t>(size));
    DWORD got = 0;
    bool read = size == 0 || (ReadFile(file, &text[0], static_cast<DWORD>(size), &got, NULL) && got == size);
    if (!read) why = systemError(GetLastError());
    CloseHandle(file);
    if (!read) text.clear();
    return read;
}

bool writeOwnFile(const std::string& path, const std::string& text, std::string& why) {
    WideText wide = ansiToWide(path);
    // DeleteFile removes a link itself; a read-only copy is ours to replace.
    SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(wide.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        why = systemError(GetLastError());
        return false;
    }
    // A reader that holds the old file (a making watching the start mark)
    // leaves its name taken until it closes it, a moment later.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int tries = 0; file == INVALID_HANDLE_VALUE && tries < 5; ++tries) {
        if (tries > 0) Sleep(10);
        file = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_ACCESS_DENIED) break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        why = systemError(GetLastError());
        return false;
    }
    DWORD put = 0;
    bool written = text.empty() || (WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &put, NULL) &&
                                    put == text.size());
    DWORD error = GetLastError();
    if (!CloseHandle(file)) written = false;
    if (written) return true;
    why = systemError(error);
    DeleteFileW(wide.c_str());
    return false;
}

bool flushFileToDisk(const std::string& path) {
    HANDLE file = CreateFileW(ansiToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool flushed = FlushFileBuffers(file) != 0;
    CloseHandle(file);
    return flushed;
}

void flushFolderOf(const std::string&) {
    // NTFS journals the rename itself; a folder cannot be flushed here.
}

long long steadyMilliseconds() {
    LARGE_INTEGER count, frequency;
    if (!QueryPerformanceFrequency(&frequency) || !QueryPerformanceCounter(&count)) return GetTickCount();
    return count.QuadPart / (frequency.QuadPart / 1000);
}

FileFacts fileFacts(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    FileFacts facts = {path, GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) != 0, 0, 0};
    if (facts.exists) {
        facts.size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        facts.time = static_cast<long long>((static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                            data.ftLastWriteTime.dwLowDateTime);
    }
    return facts;
}

std::vector<std::string> jarsIn(const std::string& dir) {
    std::vector<std::string> jars;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "*.jar").c_str(), &found);  // any case, as Windows compares
    if (search == INVALID_HANDLE_VALUE) return jars;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) jars.push_back(dir + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    // A plain sort: the handful of jars of a folder.
    for (size_t i = 1; i < jars.size(); ++i)
        for (size_t j = i; j > 0 && jars[j] < jars[j - 1]; --j) jars[j].swap(jars[j - 1]);
    return jars;
}

bool removeFile(const std::string& path) {
    // DeleteFile refuses a read-only file, and the JVM makes its archives so.
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path.c_str()) != 0;
}

std::vector<std::string> namesStartingWith(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + prefix + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

unsigned long long freeSpaceIn(const std::string& dir) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(dir.c_str(), &available, NULL, NULL)) return ~0ULL;
    return available.QuadPart;
}

bool utf8ToAnsiExactly(const std::string& utf8, std::string& ansi) {
    // utf8ToWString substitutes what is not UTF-8: that is no exact text.
    return validUtf8(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size()) &&
           utf8.find('\0') == std::string::npos && toAnsiExactly(utf8ToWString(utf8), ansi);
}

WideText environmentValue(const wchar_t* name) {
    DWORD n = GetEnvironmentVariableW(name, NULL, 0);
    if (n == 0) return WideText();
    WideText value(n, L'\0');
    n = GetEnvironmentVariableW(name, &value[0], n);
    value.resize(n < value.size() ? n : 0);  // changed meanwhile: as if unset
    return value;
}
