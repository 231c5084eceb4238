// Starts its command line as Explorer or a shortcut would: the program
// gets no standard input, output or error, and no console. Waits for it
// and exits with its exit code; 200 when it cannot start it.
#include <windows.h>

#include <string>

int main() {
    // The command line after this program's own name, as Windows splits it.
    std::wstring line = GetCommandLineW();
    size_t at = 0;
    bool quoted = false;
    for (; at < line.size() && (quoted || (line[at] != L' ' && line[at] != L'\t')); ++at)
        if (line[at] == L'"') quoted = !quoted;
    while (at < line.size() && (line[at] == L' ' || line[at] == L'\t')) ++at;
    std::wstring rest = line.substr(at);
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;  // all three NULL
    PROCESS_INFORMATION pi;
    if (rest.empty() || !CreateProcessW(NULL, &rest[0], NULL, NULL, FALSE, DETACHED_PROCESS, NULL, NULL, &si, &pi))
        return 200;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 200;
    GetExitCodeProcess(pi.hProcess, &code);
    return static_cast<int>(code);
}
