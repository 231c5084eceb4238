#include "procutil.h"

#include <cstdio>
#include <vector>

#include "apppaths.h"
#include "baseutil_win.h"

ChildHandle childProcess = NULL;
unsigned long childProcessId = 0;

static DWORD WINAPI drainErrors(LPVOID pipe) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof(buffer), &got, NULL) && got > 0) keepChildErrors(buffer, got);
    CloseHandle(pipe);
    return 0;
}

static bool noHandle(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    return handle == NULL || handle == INVALID_HANDLE_VALUE;
}

// Where the launcher has neither standard output nor standard error (a
// start from Explorer or a shortcut), the child gets a pipe for its
// standard error; with the requests of a second start, a pipe for its
// standard input. It then gets its three standard handles and only those:
// the attribute list keeps every other handle of ours from it. A thread
// drains the error pipe.
struct ChildHandles {
    HANDLE errorWrite, reader;
    HANDLE given[3];  // what the child inherits; copies of ours where they are not the pipes
    bool copied[3];
    std::vector<char> attributes;
};

// An inheritable copy of one of our standard handles; NULL where there is none.
static HANDLE inheritableCopy(DWORD which) {
    HANDLE handle = GetStdHandle(which), copy = NULL;
    if (handle == NULL || handle == INVALID_HANDLE_VALUE) return NULL;
    return DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)
               ? copy
               : NULL;
}

static void closeCopies(ChildHandles& handles) {
    for (int i = 0; i < 3; ++i)
        if (handles.copied[i] && handles.given[i] != NULL) CloseHandle(handles.given[i]);
}

static bool giveHandles(const std::string& program, HANDLE input, STARTUPINFOEXA& si, ChildHandles& handles) {
    handles.errorWrite = handles.reader = NULL;
    HANDLE readEnd = NULL;
    SECURITY_ATTRIBUTES inherited = {sizeof(SECURITY_ATTRIBUTES), NULL, TRUE};
    if (childErrorsKept() &&
        capturesChildErrors(!noHandle(STD_OUTPUT_HANDLE), !noHandle(STD_ERROR_HANDLE), programSubsystem(program)) &&
        CreatePipe(&readEnd, &handles.errorWrite, &inherited, 0))
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    if (handles.errorWrite == NULL && input == NULL) return false;
    DWORD which[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE ours[3] = {input, NULL, handles.errorWrite};
    HANDLE list[3];
    DWORD count = 0;
    for (int i = 0; i < 3; ++i) {
        handles.copied[i] = ours[i] == NULL;
        handles.given[i] = handles.copied[i] ? inheritableCopy(which[i]) : ours[i];
        if (handles.given[i] != NULL) list[count++] = handles.given[i];
    }
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(NULL, 1, 0, &size);
    handles.attributes.resize(size);
    si.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(&handles.attributes[0]);
    bool listed = size > 0 && InitializeProcThreadAttributeList(si.lpAttributeList, 1, 0, &size) &&
                  UpdateProcThreadAttribute(si.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, list,
                                            count * sizeof(HANDLE), NULL, NULL);
    if (listed && readEnd != NULL) handles.reader = CreateThread(NULL, 0, drainErrors, readEnd, 0, NULL);
    if (!listed || (readEnd != NULL && handles.reader == NULL)) {
        if (readEnd != NULL) CloseHandle(readEnd);
        if (handles.errorWrite != NULL) CloseHandle(handles.errorWrite);
        closeCopies(handles);
        si.lpAttributeList = NULL;
        return false;
    }
    si.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
    si.StartupInfo.hStdInput = handles.given[0];
    si.StartupInfo.hStdOutput = handles.given[1];
    si.StartupInfo.hStdError = handles.given[2];
    return true;
}

// The reader ends with the pipe; a grandchild that keeps it open is not
// waited for long.
static void endCapture(ChildHandles& handles, DWORD waitMs) {
    if (handles.reader == NULL) return;
    WaitForSingleObject(handles.reader, waitMs);
    CloseHandle(handles.reader);
}

void prepareProcessRunner() {
    // Nothing a starter passes on keeps us from waiting for a child here.
}

void releaseChildProcess() {
    if (childProcess != NULL) {
        CloseHandle(childProcess);
        childProcess = NULL;
    }
}

static std::string ansiFolder(UINT (WINAPI* get)(LPSTR, UINT)) {
    char buf[MAX_PATH];
    UINT n = get(buf, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(buf, n) : std::string();
}

std::string pathForPrograms() {
    WideText value = environmentValue(L"PATH");
    std::string usable;
    WideText::size_type start = 0;
    while (start <= value.size()) {
        WideText::size_type end = value.find(L';', start);
        if (end == WideText::npos) end = value.size();
        WideText dir = value.substr(start, end - start);
        if (dir.size() >= 2 && dir[0] == L'"' && dir[dir.size() - 1] == L'"') dir = dir.substr(1, dir.size() - 2);
        std::string ansi = dir.empty() ? std::string() : usableAnsiPath(dir);
        if (!ansi.empty()) usable += (usable.empty() ? "" : ";") + ansi;
        start = end + 1;
    }
    return usable;
}

std::string findProgram(const std::string& program) {
    // The order CreateProcess would search, less the current folder.
    std::vector<std::string> systemFolders;
    // The shared Windows folder, not a Remote Desktop user's private one.
    std::string system = ansiFolder(GetSystemDirectoryA), windows = ansiFolder(GetSystemWindowsDirectoryA);
    if (!system.empty()) systemFolders.push_back(system);
    if (!windows.empty()) {
        systemFolders.push_back(windows + "\\System");
        systemFolders.push_back(windows);
    }
    std::vector<std::string> candidates =
        programCandidates(program, WindowsPaths, appDir, systemFolders, pathForPrograms(), nativeLeadByte);
    for (size_t i = 0; i < candidates.size(); ++i) {
        DWORD attrs = GetFileAttributesA(candidates[i].c_str());
        if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0) return candidates[i];
    }
    return std::string();
}

static int startFailed(HANDLE input) {
    if (input != NULL) CloseHandle(input);
    writeLine(stdout, "execute:createProcessResult==" + std::to_string(FALSE));
    return 1;
}

int execute(const std::string& program, char* lpCommandLine, const char* lpCurrentDir, int doWait, HANDLE input) {
    childProcessId = 0;  // none of this start's, until it has started
    // Windows refuses a command line of more than 32,767 UTF-16 units, its
    // terminator included; Wine instead cuts it at a 64 KiB boundary and
    // starts what is left. A double-byte character counts as one unit.
    int units = MultiByteToWideChar(CP_ACP, 0, lpCommandLine, -1, NULL, 0);
    if (units <= 0 || units > 32767) return startFailed(input);
    // Found by us, never by CreateProcess: its search of the first word would
    // take the current folder first, and each prefix of a path with blanks.
    std::string module = findProgram(program);
    if (module.empty()) return startFailed(input);
    STARTUPINFOEXA si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&si, sizeof(si));
    si.StartupInfo.cb = sizeof(si.StartupInfo);
    ZeroMemory(&pi, sizeof(pi));
    ChildHandles handles;
    bool capturing = giveHandles(module, input, si, handles);
    if (capturing) si.StartupInfo.cb = sizeof(si);
    // The taskbar groups the child's windows under this ID, not Java's.
    std::string appId = childAppId();
    if (!appId.empty()) {
        si.StartupInfo.dwFlags |= STARTF_TITLEISAPPID;
        si.StartupInfo.lpTitle = &appId[0];
    }

    flushOutput();  // the child writes to the same streams
    BOOL created = CreateProcessA(module.c_str(), lpCommandLine, NULL, NULL, capturing,
                                  capturing ? EXTENDED_STARTUPINFO_PRESENT : 0, NULL, lpCurrentDir,
                                  &si.StartupInfo, &pi);
    if (capturing) {
        // The child's now: the pipes end with it.
        if (handles.errorWrite != NULL) CloseHandle(handles.errorWrite);
        closeCopies(handles);
        DeleteProcThreadAttributeList(si.lpAttributeList);
    }
    if (input != NULL) CloseHandle(input);
    if (!created) {
        if (capturing) endCapture(handles, 1000);
        writeLine(stdout, "execute:createProcessResult==" + std::to_string(created));
        return 1;
    }
    // One handle per child would otherwise pile up over a long run of updates.
    releaseChildProcess();
    childProcess = pi.hProcess;
    childProcessId = pi.dwProcessId;
    if (!CloseHandle(pi.hThread)) {
        MessageBox2("CloseHandle(hThread)");
        return 1;
    }
    writeLine(stdout, "execute:processId==" + std::to_string(static_cast<int>(GetCurrentProcessId())));
    flushOutput();  // before the child's own output, which shares the stream
    childHasStarted();
    if (doWait == 0) {
        if (capturing) endCapture(handles, 0);
        return 0;
    }

    childWindowsStarted(pi.dwProcessId);
    DWORD waitResult = WaitForSingleObject(childProcess, INFINITE);
    childWindowsEnded();
    if (capturing) endCapture(handles, 1000);
    switch (waitResult) {
    case WAIT_OBJECT_0: writeLine(stdout, "result=WAIT_OBJECT_0"); break;
    case WAIT_FAILED: writeLine(stdout, "result=WAIT_FAILED"); return 1;
    case WAIT_ABANDONED: writeLine(stdout, "result=WAIT_ABANDONED"); return 1;
    case WAIT_TIMEOUT: writeLine(stdout, "result=WAIT_TIMEOUT"); return 1;
    default: writeLine(stdout, "result=" + std::to_string(static_cast<int>(waitResult))); return 1;
    }
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(childProcess, &exitCode)) {
        MessageBox2("execute:GetExitCodeProcess Error.");
        return 1;
    }
    return static_cast<int>(exitCode);
}

// No handles of ours and no window: nothing of the child reaches the
// application's output or the user's screen.
static bool startQuietly(const char* program, std::string commandLine, DWORD flags, const char* dir,
                         PROCESS_INFORMATION& pi) {
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    if (!CreateProcessA(program, &commandLine[0], NULL, NULL, FALSE, CREATE_NO_WINDOW | flags, NULL, dir, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    return true;
}

std::string startSelfInBackground(const std::string& name, const std::string& value, const std::string& dir) {
    const std::string cannot = "the launcher cannot start again to make it";
    // The job this launcher runs in, if any (NULL: its own innermost job).
    BOOL inJob = FALSE;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION job;
    ZeroMemory(&job, sizeof(job));
    if (IsProcessInJob(GetCurrentProcess(), NULL, &inJob) && inJob)
        QueryInformationJobObject(NULL, JobObjectExtendedLimitInformation, &job, sizeof(job), NULL);
    JobStart how = jobStartOf(inJob != FALSE, job.BasicLimitInformation.LimitFlags);
    if (how == StartNot)
        return "the launcher runs in a job that ends its processes with it and lets none leave, "
               "so the making would be killed";
    std::string self = currentModulePath();
    if (self.empty() || !SetEnvironmentVariableA(name.c_str(), value.c_str())) return cannot;
    PROCESS_INFORMATION pi;
    // At idle priority, which its own children take on.
    DWORD flags = IDLE_PRIORITY_CLASS | (how == StartBreakingAway ? CREATE_BREAKAWAY_FROM_JOB : 0);
    const char* folder = dir.empty() ? NULL : dir.c_str();
    bool started = startQuietly(self.c_str(), "\"" + self + "\"", flags, folder, pi);
    // A job further out may refuse what the innermost one allows.
    if (!started && how == StartBreakingAway && GetLastError() == ERROR_ACCESS_DENIED)
        started = startQuietly(self.c_str(), "\"" + self + "\"", IDLE_PRIORITY_CLASS, folder, pi);
    SetEnvironmentVariableA(name.c_str(), NULL);
    if (started) CloseHandle(pi.hProcess);
    return started ? std::string() : cannot;
}

typedef BOOL(WINAPI* SetProcessInformationProc)(HANDLE, int, LPVOID, DWORD);

// Its pages are the first to go when others need memory (Windows 8 and
// later; looked up, not imported). The idle priority class lowers the
// processor alone.
static void lowerMemoryPriority(HANDLE process) {
    SetProcessInformationProc set = reinterpret_cast<SetProcessInformationProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetProcessInformation")));
    const int processMemoryPriority = 0;  // PROCESS_INFORMATION_CLASS
    DWORD veryLow = 1;                    // MEMORY_PRIORITY_VERY_LOW
    if (set != NULL) set(process, processMemoryPriority, &veryLow, sizeof(veryLow));
}

int runQuietly(const std::string& program, const std::string& commandLine, const std::string& dir,
               bool (*giveWay)()) {
    PROCESS_INFORMATION pi;
    if (!startQuietly(program.c_str(), commandLine, 0, dir.empty() ? NULL : dir.c_str(), pi)) return -1;
    lowerMemoryPriority(pi.hProcess);
    while (WaitForSingleObject(pi.hProcess, QUIET_POLL_MS) == WAIT_TIMEOUT) {
        if (!giveWay()) continue;
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hProcess);
        return RUN_GAVE_WAY;
    }
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

unsigned long processId() {
    return GetCurrentProcessId();
}

bool processRunning(unsigned long pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    // Another user's process may refuse us: it runs all the same.
    if (process == NULL) return GetLastError() == ERROR_ACCESS_DENIED;
    bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

typedef BOOL(WINAPI* IsWow64Process2Proc)(HANDLE, USHORT*, USHORT*);

unsigned nativeMachine() {
    // Windows 10 1709 and later: looked up, not imported.
    IsWow64Process2Proc isWow64Process2 = reinterpret_cast<IsWow64Process2Proc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process2")));
    USHORT process = 0, native = 0;
    if (isWow64Process2 != NULL && isWow64Process2(GetCurrentProcess(), &process, &native) && native != 0)
        return native;
    SYSTEM_INFO info;
    GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64: return IMAGE_FILE_MACHINE_AMD64;
    case PROCESSOR_ARCHITECTURE_ARM64: return 0xAA64;
    case PROCESSOR_ARCHITECTURE_INTEL: return IMAGE_FILE_MACHINE_I386;
    default: return 0;  // cannot tell: nothing is passed over
    }
}

std::string resolvedProgram(const std::string& path) {
    return path;
}
