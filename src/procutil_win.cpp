#include "procutil.h"

#include <cstdio>
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

int execute(char* lpCommandLine, const char* lpCurrentDir, int doWait) {
    // Windows refuses a command line of more than 32,767 UTF-16 units, its
    // terminator included; Wine instead cuts it at a 64 KiB boundary and
    // starts what is left. A double-byte character counts as one unit.
    int units = MultiByteToWideChar(CP_ACP, 0, lpCommandLine, -1, NULL, 0);
    if (units <= 0 || units > 32767) {
        writeLine(stdout, "execute:createProcessResult==" + std::to_string(FALSE));
        return 1;
    }
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    ZeroMemory(&pi, sizeof(pi));

    flushOutput();  // the child writes to the same streams
    BOOL created = CreateProcessA(NULL, lpCommandLine, NULL, NULL, FALSE, 0, NULL,
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
