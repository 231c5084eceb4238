/* The Windows floor: start the rest of the command line as one child the way
   the launcher does (CreateProcessA, no flags), wait, pass the exit code on.
   Built for the GUI subsystem, like the launcher. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    DWORD code = 1;
    (void)instance;
    (void)previous;
    (void)show;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    ZeroMemory(&pi, sizeof(pi));
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) return 1;
    CloseHandle(pi.hThread);
    if (WaitForSingleObject(pi.hProcess, INFINITE) != WAIT_OBJECT_0) return 1;
    if (!GetExitCodeProcess(pi.hProcess, &code)) code = 1;
    CloseHandle(pi.hProcess);
    return (int)code;
}
