#include "singleinstance.h"

#include <windows.h>
#include <aclapi.h>
#include <cstdio>
#include <vector>

#include "apppaths_win.h"
#include "baseutil_win.h"

// The instance is a mutex in the session's Local\ namespace, owned by the
// first copy's main thread: a copy that dies abandons it, and the next
// start takes it. The channel is a named pipe; pipe names are global, so
// the name also holds the user and the session. Both objects are the
// user's alone: owned by the user's SID, with one ACE for it.
static WideText mutexName, pipeName;
static std::vector<char> userSid;
static std::vector<char> userAcl;
static SECURITY_DESCRIPTOR userOnly;
static SECURITY_ATTRIBUTES userOnlyAttributes = {sizeof(SECURITY_ATTRIBUTES), &userOnly, FALSE};
static HANDLE instanceMutex = NULL;

static bool placeNames(std::string& why) {
    if (!pipeName.empty()) return true;
    HANDLE token = NULL;
    DWORD size = 0;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        GetTokenInformation(token, TokenUser, NULL, 0, &size);
        std::vector<char> user(size > 0 ? size : 1);
        if (size > 0 && GetTokenInformation(token, TokenUser, &user[0], size, &size)) {
            PSID sid = reinterpret_cast<TOKEN_USER*>(&user[0])->User.Sid;
            userSid.assign(static_cast<char*>(sid), static_cast<char*>(sid) + GetLengthSid(sid));
        }
        CloseHandle(token);
    }
    WideText self = moduleFileNameW();
    if (userSid.empty() || self.empty()) {
        why = "the user or the launcher's path cannot be had";
        return false;
    }
    // One name for the launcher however it was started: long form, any case.
    DWORD n = GetLongPathNameW(self.c_str(), NULL, 0);
    WideText longPath(n > 0 ? n : 1, L'\0');
    if (n > 0 && GetLongPathNameW(self.c_str(), &longPath[0], n) == n - 1) self = longPath.substr(0, n - 1);
    for (size_t i = 0; i < self.size(); ++i)
        if (self[i] >= L'a' && self[i] <= L'z') self[i] = static_cast<wchar_t>(self[i] - L'a' + L'A');
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    std::string userKey(userSid.begin(), userSid.end());
    std::string name = instanceName(launcherName(exeFileName), wideToUtf8(self), userKey + std::to_string(session));
    WideText wide = utf8ToWString(name);
    mutexName = L"Local\\" + wide;
    pipeName = L"\\\\.\\pipe\\" + wide;

    PSID sid = &userSid[0];
    userAcl.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
    PACL acl = reinterpret_cast<PACL>(&userAcl[0]);
    if (!InitializeAcl(acl, static_cast<DWORD>(userAcl.size()), ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) ||
        !InitializeSecurityDescriptor(&userOnly, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorOwner(&userOnly, sid, FALSE) || !SetSecurityDescriptorDacl(&userOnly, TRUE, acl, FALSE)) {
        pipeName.clear();
        why = "its security descriptor cannot be made (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    return true;
}

InstanceClaim claimInstance(std::string& why) {
    if (!placeNames(why)) return InstanceUnavailable;
    HANDLE mutex = CreateMutexW(&userOnlyAttributes, FALSE, mutexName.c_str());
    if (mutex == NULL) {
        DWORD error = GetLastError();
        why = "the running copy's instance cannot be opened (error " + std::to_string(error) + ")";
        return openFailureOf(error) == OpenRefused ? InstanceOtherRights : InstanceUnavailable;
    }
    DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        instanceMutex = mutex;
        return InstanceClaimed;
    }
    CloseHandle(mutex);
    return InstanceHeld;
}

// One instance of the request pipe; the first must be the first of its
// name, or another program got there before us.
static HANDLE makePipe(bool first) {
    return CreateNamedPipeW(pipeName.c_str(),
                            PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                            PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, &userOnlyAttributes);
}

// Shared with the serving thread, under lock.
static CRITICAL_SECTION lock;
static std::string queue;           // requests that the application has not been given
static HANDLE appWrite = NULL;      // the application's input while it runs
static HANDLE pendingWrite = NULL;  // made for its next start
static std::vector<HANDLE> retired; // inputs of applications that have ended
static unsigned long appPid = 0;
static bool stopping = false;

static HANDLE listening = NULL, wake = NULL, server = NULL;
static unsigned inputCount = 0;

// An overlapped read or write that gives up at the time until.
static bool transfer(HANDLE pipe, bool reading, char* bytes, DWORD size, DWORD& done, HANDLE event, long long until) {
    OVERLAPPED io;
    ZeroMemory(&io, sizeof(io));
    io.hEvent = event;
    ResetEvent(event);
    BOOL finished = reading ? ReadFile(pipe, bytes, size, NULL, &io) : WriteFile(pipe, bytes, size, NULL, &io);
    if (!finished && GetLastError() != ERROR_IO_PENDING) return false;
    long long left = until - steadyMilliseconds();
    if (!finished && WaitForSingleObject(event, left > 0 ? static_cast<DWORD>(left) : 0) != WAIT_OBJECT_0) {
        CancelIo(pipe);
        GetOverlappedResult(pipe, &io, &done, TRUE);
        return false;
    }
    return GetOverlappedResult(pipe, &io, &done, FALSE) && done > 0;
}

// Up to a line feed, the end, or more than limit bytes.
static std::string receiveLine(HANDLE pipe, size_t limit, HANDLE event, long long until) {
    std::string got;
    char buffer[4096];
    DWORD n = 0;
    while (got.size() <= limit && (got.empty() || got[got.size() - 1] != '\n') &&
           transfer(pipe, true, buffer, sizeof(buffer), n, event, until))
        got.append(buffer, n);
    return got;
}

static bool sendAll(HANDLE pipe, const std::string& bytes, HANDLE event, long long until) {
    std::string rest = bytes;
    DWORD n = 0;
    while (!rest.empty() && transfer(pipe, false, &rest[0], static_cast<DWORD>(rest.size()), n, event, until))
        rest.erase(0, n);
    return rest.empty();
}

static void serveClient(HANDLE pipe, HANDLE event) {
    long long until = steadyMilliseconds() + 2000;
    std::string received = receiveLine(pipe, REQUEST_LIMIT, event, until);
    EnterCriticalSection(&lock);
    std::string answer = takeRequest(received, queue, appPid);
    LeaveCriticalSection(&lock);
    if (answer.empty()) return;
    if (!sendAll(pipe, answer, event, until)) {
        EnterCriticalSection(&lock);
        withdrawRequest(queue, received, answer);
        LeaveCriticalSection(&lock);
        return;
    }
    // Until the client has read the answer: closing first would take it away.
    char rest[64];
    DWORD n = 0;
    while (transfer(pipe, true, rest, sizeof(rest), n, event, until)) {
    }
}

static void awaitClient(HANDLE pipe, OVERLAPPED& connecting) {
    ResetEvent(connecting.hEvent);
    if (!ConnectNamedPipe(pipe, &connecting) && GetLastError() == ERROR_PIPE_CONNECTED) SetEvent(connecting.hEvent);
}

static DWORD WINAPI serve(LPVOID) {
    OVERLAPPED connecting, writing;
    ZeroMemory(&connecting, sizeof(connecting));
    ZeroMemory(&writing, sizeof(writing));
    connecting.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    writing.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    HANDLE clientEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    HANDLE output = NULL;  // the application's input while a write into it is under way
    std::string chunk;
    awaitClient(listening, connecting);
    for (;;) {
        EnterCriticalSection(&lock);
        for (size_t i = 0; i < retired.size(); ++i) {
            if (retired[i] == output) {
                // An application that ended, or a child of it that holds its input.
                CancelIo(output);
                DWORD n = 0;
                GetOverlappedResult(output, &writing, &n, TRUE);
                queue.erase(0, bytesDone(queue, n));
                output = NULL;
            }
            CloseHandle(retired[i]);
        }
        retired.clear();
        if (stopping) {
            if (!queue.empty())
                writeLine(stdout, "requestsNotRead=" + std::to_string(queue.size()) + " bytes: the application has ended");
            if (pendingWrite != NULL) CloseHandle(pendingWrite);
            pendingWrite = NULL;
            LeaveCriticalSection(&lock);
            if (listening != NULL) {
                CancelIo(listening);
                CloseHandle(listening);
            }
            return 0;
        }
        if (output == NULL && appWrite != NULL && !queue.empty()) {
            chunk = queue;
            ResetEvent(writing.hEvent);
            if (WriteFile(appWrite, &chunk[0], static_cast<DWORD>(chunk.size()), NULL, &writing) ||
                GetLastError() == ERROR_IO_PENDING) {
                output = appWrite;
            } else {
                // It has closed its input before a byte went: all waits for its next start.
                retired.push_back(appWrite);
                appWrite = NULL;
                SetEvent(wake);
            }
        }
        LeaveCriticalSection(&lock);

        HANDLE events[3] = {wake, writing.hEvent, connecting.hEvent};
        DWORD count = output != NULL ? 2 : 1;
        if (listening != NULL) events[count++] = connecting.hEvent;
        DWORD which = WaitForMultipleObjects(count, events, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0 + 1 && output != NULL) {
            DWORD n = 0;
            BOOL written = GetOverlappedResult(output, &writing, &n, FALSE);
            EnterCriticalSection(&lock);
            queue.erase(0, written ? n : bytesDone(queue, n));
            if (!written && appWrite == output) {
                // It has closed its input: the rest waits for its next start.
                retired.push_back(appWrite);
                appWrite = NULL;
            }
            output = NULL;
            LeaveCriticalSection(&lock);
            if (!written) SetEvent(wake);
        } else if (which == WAIT_OBJECT_0 + count - 1 && listening != NULL) {
            DWORD n = 0;
            bool connected = GetOverlappedResult(listening, &connecting, &n, FALSE) || GetLastError() == ERROR_PIPE_CONNECTED;
            // The next instance first: a start meanwhile finds the pipe busy, not gone.
            HANDLE next = makePipe(false);
            if (connected) serveClient(listening, clientEvent);
            CloseHandle(listening);
            listening = next != INVALID_HANDLE_VALUE ? next : NULL;
            if (listening != NULL) awaitClient(listening, connecting);
            else writeLine(stdout, "requestsNotTaken=the pipe cannot be made again");
        }
    }
}

static void releaseMutex() {
    ReleaseMutex(instanceMutex);
    CloseHandle(instanceMutex);
    instanceMutex = NULL;
}

// Without a channel the instance is let go: a later start would wait in
// vain for an answer.
static std::string notOpened(const std::string& why) {
    if (listening != NULL && listening != INVALID_HANDLE_VALUE) CloseHandle(listening);
    listening = NULL;
    releaseMutex();
    return why;
}

std::string openRequests() {
    listening = makePipe(true);
    if (listening == INVALID_HANDLE_VALUE)
        return notOpened("its pipe cannot be made (error " + std::to_string(GetLastError()) + ")");
    InitializeCriticalSection(&lock);
    wake = CreateEventW(NULL, FALSE, FALSE, NULL);
    server = CreateThread(NULL, 0, serve, NULL, 0, NULL);
    if (server == NULL) return notOpened("cannot start a thread to take requests");
    writeLine(stdout, "singleInstance=" + wideToUtf8(pipeName));
    return std::string();
}

ChildInput requestInput() {
    if (server == NULL) return NO_CHILD_INPUT;
    // A pipe of its own for each start: ours written overlapped, so that
    // the serving thread never waits on an application that does not read.
    WideText name = pipeName + L"-input-" + utf8ToWString(std::to_string(++inputCount));
    HANDLE ours = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                   PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 4096, 0, 0,
                                   &userOnlyAttributes);
    if (ours == INVALID_HANDLE_VALUE) return NO_CHILD_INPUT;
    SECURITY_ATTRIBUTES inherited = {sizeof(SECURITY_ATTRIBUTES), NULL, TRUE};
    HANDLE theirs = CreateFileW(name.c_str(), GENERIC_READ, 0, &inherited, OPEN_EXISTING, 0, NULL);
    if (theirs == INVALID_HANDLE_VALUE) {
        CloseHandle(ours);
        return NO_CHILD_INPUT;
    }
    EnterCriticalSection(&lock);
    if (pendingWrite != NULL) CloseHandle(pendingWrite);
    pendingWrite = ours;
    LeaveCriticalSection(&lock);
    return theirs;
}

static void appStarted(unsigned long pid) {
    if (server == NULL) return;
    EnterCriticalSection(&lock);
    if (pendingWrite != NULL) {
        appWrite = pendingWrite;
        pendingWrite = NULL;
        appPid = pid;
    }
    LeaveCriticalSection(&lock);
    SetEvent(wake);
}

static void appEnded() {
    if (server == NULL) return;
    EnterCriticalSection(&lock);
    if (appWrite != NULL) retired.push_back(appWrite);
    appWrite = NULL;
    appPid = 0;
    LeaveCriticalSection(&lock);
    SetEvent(wake);
}

const ChildDesktop singleInstanceDesktop = {NULL, appStarted, appEnded};

void releaseSingleInstance() {
    if (server == NULL) return;
    EnterCriticalSection(&lock);
    stopping = true;
    LeaveCriticalSection(&lock);
    SetEvent(wake);
    WaitForSingleObject(server, 5000);
    CloseHandle(server);
    server = NULL;
    // The pipe is gone before the instance: a start after it finds neither.
    releaseMutex();
}

std::vector<std::string> ownRequestFields() {
    std::vector<std::string> fields;
    DWORD n = GetCurrentDirectoryW(0, NULL);
    WideText cwd(n > 0 ? n : 1, L'\0');
    n = n > 0 ? GetCurrentDirectoryW(n, &cwd[0]) : 0;
    fields.push_back(wideToUtf8(cwd.substr(0, n)));
    // Every character as the user gave it: argv has lost what the code page lacks.
    std::vector<std::string> words = splitCommandLine(wideToUtf8(GetCommandLineW()));
    for (size_t i = 1; i < words.size(); ++i) fields.push_back(words[i]);
    return fields;
}

// Whether the pipe is the user's own: another user could have made one of
// its name first, to read the files that a second start passes.
static bool ownPipe(HANDLE pipe) {
    PSID owner = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    bool own = GetSecurityInfo(pipe, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, NULL, NULL, NULL,
                               &descriptor) == ERROR_SUCCESS &&
               owner != NULL && EqualSid(owner, &userSid[0]);
    if (descriptor != NULL) LocalFree(descriptor);
    return own;
}

Exchange exchangeRequest(const std::string& request, int waitMs, std::string& answer, std::string& why) {
    long long until = steadyMilliseconds() + waitMs;
    HANDLE pipe;
    for (;;) {
        pipe = CreateFileW(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                           NULL);
        if (pipe != INVALID_HANDLE_VALUE) break;
        DWORD error = GetLastError();
        why = "its pipe cannot be opened (error " + std::to_string(error) + ")";
        OpenFailure failure = openFailureOf(error);
        if (failure == OpenRefused) return ExchangeRefused;
        if (failure == OpenAbsent) return ExchangeNoChannel;
        long long left = until - steadyMilliseconds();
        if (left <= 0) return ExchangeSilent;
        WaitNamedPipeW(pipeName.c_str(), static_cast<DWORD>(left < 500 ? left : 500));
    }
    if (!ownPipe(pipe)) {
        CloseHandle(pipe);
        why = "its pipe is not the user's own";
        return ExchangeRefused;
    }
    HANDLE event = CreateEventW(NULL, TRUE, FALSE, NULL);
    bool sent = sendAll(pipe, request, event, until);
    answer = sent ? receiveLine(pipe, 64, event, until) : std::string();
    CloseHandle(event);
    CloseHandle(pipe);
    if (!answer.empty() && answer[answer.size() - 1] == '\n') return ExchangeAnswered;
    why = sent ? "it took the request but did not answer" : "it did not take the request";
    return ExchangeSilent;
}

typedef BOOL(WINAPI* AllowSetForegroundWindowProc)(DWORD);
typedef BOOL(WINAPI* EnumWindowsProc)(WNDENUMPROC, LPARAM);
typedef DWORD(WINAPI* GetWindowThreadProcessIdProc)(HWND, LPDWORD);
typedef BOOL(WINAPI* WindowTestProc)(HWND);
typedef HWND(WINAPI* GetWindowProc)(HWND, UINT);
typedef BOOL(WINAPI* ShowWindowProc)(HWND, int);

struct WindowSearch {
    DWORD pid;
    HWND found;
};

// The first in Z order of the process's visible windows that no other owns.
static BOOL CALLBACK mainWindowOf(HWND window, LPARAM param) {
    // Looked up once: the callback runs for every window of the desktop.
    static GetWindowThreadProcessIdProc processOf =
        user32<GetWindowThreadProcessIdProc>("GetWindowThreadProcessId");
    static WindowTestProc visible = user32<WindowTestProc>("IsWindowVisible");
    static GetWindowProc related = user32<GetWindowProc>("GetWindow");
    WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    processOf(window, &pid);
    if (pid != search->pid || !visible(window) || related(window, GW_OWNER) != NULL) return TRUE;
    search->found = window;
    return FALSE;
}

void raiseApplication(unsigned long pid) {
    if (pid == 0) return;  // the updater runs: the application shows itself when it starts again
    // This start has the foreground, as the user just started it: it may pass that on.
    AllowSetForegroundWindowProc allow = user32<AllowSetForegroundWindowProc>("AllowSetForegroundWindow");
    if (allow != NULL) allow(pid);
    WindowSearch search = {pid, NULL};
    EnumWindowsProc enumWindows = user32<EnumWindowsProc>("EnumWindows");
    if (enumWindows != NULL) enumWindows(mainWindowOf, reinterpret_cast<LPARAM>(&search));
    if (search.found == NULL) {
        writeLine(stdout, "applicationWindow=none shown yet");
        return;
    }
    if (user32<WindowTestProc>("IsIconic")(search.found)) user32<ShowWindowProc>("ShowWindow")(search.found, SW_RESTORE);
    bool raised = user32<WindowTestProc>("SetForegroundWindow")(search.found) != 0;
    writeLine(stdout, std::string("applicationWindow=") + (raised ? "raised" : "not raised"));
}
