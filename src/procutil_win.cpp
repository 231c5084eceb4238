#include "procutil.h"

#include <cstdio>
#include <vector>

#include "apppaths.h"
#include "baseutil.h"

ChildHandle childProcess = NULL;

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

std::string findProgram(const std::string& program) {
    // The order CreateProcess would search, less the current folder.
    std::vector<std::string> systemFolders;
    std::string system = ansiFolder(GetSystemDirectoryA), windows = ansiFolder(GetWindowsDirectoryA);
    if (!system.empty()) systemFolders.push_back(system);
    if (!windows.empty()) {
        systemFolders.push_back(windows + "\\System");
        systemFolders.push_back(windows);
    }
    std::string pathValue;
    DWORD n = GetEnvironmentVariableA("PATH", NULL, 0);
    if (n > 0) {
        pathValue.resize(n);
        pathValue.resize(GetEnvironmentVariableA("PATH", &pathValue[0], n));
    }
    std::vector<std::string> candidates = programCandidates(program, WindowsPaths, appDir, systemFolders, pathValue);
    for (size_t i = 0; i < candidates.size(); ++i) {
        DWORD attrs = GetFileAttributesA(candidates[i].c_str());
        if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0) return candidates[i];
    }
    return std::string();
}

int execute(const std::string& program, char* lpCommandLine, const char* lpCurrentDir, int doWait) {
    // Windows refuses a command line of more than 32,767 UTF-16 units, its
    // terminator included; Wine instead cuts it at a 64 KiB boundary and
    // starts what is left. A double-byte character counts as one unit.
    int units = MultiByteToWideChar(CP_ACP, 0, lpCommandLine, -1, NULL, 0);
    if (units <= 0 || units > 32767) {
        writeLine(stdout, "execute:createProcessResult==" + std::to_string(FALSE));
        return 1;
    }
    // Found by us, never by CreateProcess: its search of the first word would
    // take the current folder first, and each prefix of a path with blanks.
    std::string module = findProgram(program);
    if (module.empty()) {
        writeLine(stdout, "execute:createProcessResult==" + std::to_string(FALSE));
        return 1;
    }
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    ZeroMemory(&pi, sizeof(pi));

    flushOutput();  // the child writes to the same streams
    BOOL created = CreateProcessA(module.c_str(), lpCommandLine, NULL, NULL, FALSE, 0, NULL,
                                  lpCurrentDir, &si, &pi);
    if (!created) {
        writeLine(stdout, "execute:createProcessResult==" + std::to_string(created));
        return 1;
    }
    // One handle per child would otherwise pile up over a long run of updates.
    releaseChildProcess();
    childProcess = pi.hProcess;
    if (!CloseHandle(pi.hThread)) {
        MessageBox2("CloseHandle(hThread)");
        return 1;
    }
    writeLine(stdout, "execute:processId==" + std::to_string(static_cast<int>(GetCurrentProcessId())));
    flushOutput();  // before the child's own output, which shares the stream
    if (doWait == 0) return 0;

    DWORD waitResult = WaitForSingleObject(childProcess, INFINITE);
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

bool startSelfInBackground(const std::string& name, const std::string& value) {
    std::string self = currentModulePath();
    if (self.empty() || !SetEnvironmentVariableA(name.c_str(), value.c_str())) return false;
    PROCESS_INFORMATION pi;
    // At idle priority, which its own children take on.
    bool started = startQuietly(self.c_str(), "\"" + self + "\"", IDLE_PRIORITY_CLASS, NULL, pi);
    SetEnvironmentVariableA(name.c_str(), NULL);
    if (started) CloseHandle(pi.hProcess);
    return started;
}

int runQuietly(const std::string& program, const std::string& commandLine, const std::string& dir,
               bool (*giveWay)()) {
    PROCESS_INFORMATION pi;
    if (!startQuietly(program.c_str(), commandLine, 0, dir.empty() ? NULL : dir.c_str(), pi)) return -1;
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
