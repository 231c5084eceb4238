// Reads the console of a running program, as a person would read its
// window: consoleread NAME FILE attaches to the console of the process
// whose executable is NAME and writes the lines up to its cursor to FILE,
// in UTF-8, trailing blanks cut and wrapped lines joined. Exits 0 when it read them, 2 when no such
// process runs, 3 when it has no console that can be read.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>

static DWORD processNamed(const char* name) {
    DWORD pid = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snap, &entry); more; more = Process32Next(snap, &entry))
        if (lstrcmpiA(entry.szExeFile, name) == 0) pid = entry.th32ProcessID;
    CloseHandle(snap);
    return pid;
}

static std::string utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), NULL, 0, NULL, NULL);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, NULL, NULL);
    return out;
}

int main(int argc, char** argv) {
    if (argc != 3) return 1;
    DWORD pid = processNamed(argv[1]);
    if (pid == 0) return 2;
    FreeConsole();
    if (!AttachConsole(pid)) return 3;
    // The screen itself, not a standard handle that may lead elsewhere.
    HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                NULL, OPEN_EXISTING, 0, NULL);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (screen == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(screen, &info)) return 3;
    int columns = info.dwSize.X;
    int rows = info.dwCursorPosition.Y + (info.dwCursorPosition.X > 0 ? 1 : 0);
    std::wstring cells(static_cast<size_t>(columns) * rows, L' ');
    DWORD got = 0;
    COORD origin = {0, 0};
    if (rows > 0 && !ReadConsoleOutputCharacterW(screen, &cells[0], static_cast<DWORD>(cells.size()), origin, &got))
        return 3;
    FILE* out = fopen(argv[2], "wb");
    if (out == NULL) return 1;
    // A row filled to its last column is a long line that the console
    // wrapped: it goes on in the next row.
    std::wstring line;
    for (int row = 0; row < rows; ++row) {
        std::wstring cellsOfRow = cells.substr(static_cast<size_t>(row) * columns, columns);
        bool wrapped = cellsOfRow[columns - 1] != L' ' && row + 1 < rows;
        line += cellsOfRow;
        if (wrapped) continue;
        line.erase(line.find_last_not_of(L' ') + 1);
        std::fprintf(out, "%s\n", utf8(line).c_str());
        line.clear();
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
