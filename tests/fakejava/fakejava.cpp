// A stand-in for the Java runtime, so that the launcher's tests depend on
// no particular JVM. Like a Java runtime whose own launcher speaks only the
// ANSI code page, it uses narrow paths throughout. Each run appends how it
// was started to fakejava.log in its working directory (in UTF-8, decoded
// from the code page as Java decodes its arguments), with its own path and
// the first line of each argument that names a file readable from that
// directory, then takes the first step of fakejava.script
// there and exits with its code. A step is a number (decimal, negative or
// 0x hex), "signal:N" (dies of signal N, after writing a crash report
// where -XX:ErrorFile= says), optionally followed by
// ",write=PATH" to create PATH first (as an updater staging a file does),
// with the bytes of fakejava.stage in that directory, or a line of text.
// No script, or no step left: exit 0. Before its step it writes
// fakejava.stderr on standard error. It also plays a JVM's recording of
// the classes it loads and its making of a class-data archive, which takes
// the milliseconds that fakejava.dumpms gives and is logged as dumped=PATH
// once written. On Windows it also logs how it was started (its startup
// flags and title), and shows a window for the milliseconds that
// fakejava.window gives (minimised where fakejava.minimized is there),
// logging foreground=restored once it is the foreground window, restored.
// Where fakejava.stdin gives a number N, it first reads N lines on its
// standard input and appends each, as it comes, to fakejava.requests. Where fakejava.waitfor names a file, it waits until
// that file is there (five minutes at most) before its step.
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#ifdef _WIN32
#include <direct.h>
#include <windows.h>
#define getcwd _getcwd
#else
#include <unistd.h>
#endif

#ifdef _WIN32
static std::string logText(const char* ansi) {
    int n = MultiByteToWideChar(CP_ACP, 0, ansi, -1, NULL, 0);
    if (n <= 1) return std::string();
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, &wide[0], n);
    int m = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, NULL, 0, NULL, NULL);
    std::string utf8(m, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &utf8[0], m, NULL, NULL);
    utf8.resize(m - 1);
    return utf8;
}
#else
static std::string logText(const char* bytes) {
    return bytes;
}
#endif

static void finish(long long code) {
#ifdef _WIN32
    ExitProcess(static_cast<UINT>(code));
#else
    std::exit(static_cast<int>(code));
#endif
}

static void sleepMs(int ms) {
#ifdef _WIN32
    Sleep(ms);
#else
    usleep(ms * 1000);
#endif
}

static std::string ownPath() {
    char path[4096] = "";
#ifdef _WIN32
    DWORD n = GetModuleFileNameA(NULL, path, sizeof(path));
#else
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
#endif
    return n > 0 ? std::string(path, n) : std::string();
}

int main(int argc, char** argv) {
    char cwd[4096] = "";
    if (getcwd(cwd, sizeof(cwd)) == NULL) cwd[0] = '\0';
    {
        std::ofstream log("fakejava.log", std::ios::app | std::ios::binary);
        log << "cwd=" << logText(cwd) << "\n";
        log << "argc=" << argc << "\n";
        for (int i = 1; i < argc; ++i) log << "arg[" << i << "]=" << logText(argv[i]) << "\n";
        log << "exe=" << logText(ownPath().c_str()) << "\n";
#ifdef _WIN32
        STARTUPINFOA startup;
        GetStartupInfoA(&startup);
        log << "startupFlags=" << startup.dwFlags << "\n";
        log << "startupTitle=" << (startup.lpTitle != NULL ? startup.lpTitle : "") << "\n";
#endif
        for (int i = 1; i < argc; ++i) {
            std::ifstream file(argv[i]);
            std::string line;
            if (std::getline(file, line)) log << "read[" << i << "]=" << line << "\n";
        }
    }

    // A class-data archive's two steps, as a JVM takes them: a run that
    // records the classes it loads (only where fakejava.classes says which),
    // and a dump that writes the archive, then ends as its step says.
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.compare(0, 24, "-XX:DumpLoadedClassList=") == 0) {
            std::ifstream classes("fakejava.classes", std::ios::binary);
            std::ofstream list(arg.substr(24).c_str(), std::ios::binary | std::ios::app);
            if (classes) list << classes.rdbuf();
        }
    }
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) != "-Xshare:dump") continue;
        int ms = 0;
        std::ifstream("fakejava.dumpms") >> ms;
        sleepMs(ms);
        for (int k = 1; k < argc; ++k) {
            std::string arg = argv[k];
            if (arg.compare(0, 22, "-XX:SharedArchiveFile=") == 0) {
                {
                    std::ofstream archive(arg.substr(22).c_str(), std::ios::binary);
                    archive << "archived by fakejava\n";
                }
                std::ofstream("fakejava.log", std::ios::app | std::ios::binary) << "dumped=" << arg.substr(22) << "\n";
            }
        }
    }

#ifdef _WIN32
    // A window of its own for the milliseconds that fakejava.window gives:
    // shown, then hidden before the process ends, as an application's.
    {
        int ms = 0;
        if (std::ifstream("fakejava.window") >> ms) {
            WNDCLASSA type = {};
            type.lpfnWndProc = DefWindowProcA;
            type.hInstance = GetModuleHandleA(NULL);
            type.lpszClassName = "fakejava";
            RegisterClassA(&type);
            HWND window = CreateWindowExA(0, "fakejava", "fakejava", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, NULL, NULL,
                                          type.hInstance, NULL);
            // Minimised where fakejava.minimized is there, as one the user put aside.
            ShowWindow(window, std::ifstream("fakejava.minimized") ? SW_SHOWMINNOACTIVE : SW_SHOW);
            bool raised = false;
            for (DWORD until = GetTickCount() + ms; GetTickCount() < until;) {
                MSG message;
                while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
                if (!raised && GetForegroundWindow() == window && !IsIconic(window)) {
                    raised = true;
                    std::ofstream("fakejava.log", std::ios::app | std::ios::binary) << "foreground=restored\n";
                }
                Sleep(10);
            }
            ShowWindow(window, SW_HIDE);
            Sleep(600);  // the hidden window stays a moment, as it would while closing
            DestroyWindow(window);
        }
    }
#endif

    // The requests of second starts, as the application reads them.
    {
        int lines = 0;
        std::ifstream("fakejava.stdin") >> lines;
        std::string line;
        for (int i = 0; i < lines && std::getline(std::cin, line); ++i)
            std::ofstream("fakejava.requests", std::ios::app | std::ios::binary) << line << "\n";
    }

    // Standard error: the text of fakejava.stderr, or with "bytes:N" as its
    // text, N bytes in lines of 64, written as fast as they can be.
    {
        std::ifstream errors("fakejava.stderr", std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(errors)), std::istreambuf_iterator<char>());
        if (text.compare(0, 6, "bytes:") == 0) {
            long long left = std::atoll(text.c_str() + 6);
            const std::string line = std::string(63, 'e') + "\n";
            for (; left > 0; left -= 64) std::fwrite(line.data(), 1, left < 64 ? left : 64, stderr);
        } else {
            std::fwrite(text.data(), 1, text.size(), stderr);
        }
        std::fflush(stderr);
    }

    {
        std::string path;
        if (std::getline(std::ifstream("fakejava.waitfor"), path))
            for (int i = 0; i < 3000 && !std::ifstream(path.c_str()); ++i) sleepMs(100);
    }

    std::string step, rest;
    {
        std::ifstream script("fakejava.script");
        if (!script) finish(0);
        if (!(script >> step)) finish(0);
        rest.assign(std::istreambuf_iterator<char>(script), std::istreambuf_iterator<char>());
    }
    {
        std::ofstream script("fakejava.script", std::ios::trunc);
        script << rest;
    }

    std::string::size_type comma = step.find(",write=");
    if (comma != std::string::npos) {
        std::ifstream stage("fakejava.stage", std::ios::binary);
        std::ofstream staged(step.substr(comma + 7).c_str(), std::ios::binary);
        if (stage) staged << stage.rdbuf();
        else staged << "staged by fakejava\n";
        step.erase(comma);
    }
    if (step.compare(0, 7, "signal:") == 0) {
        // A crash report first, where -XX:ErrorFile says, as a JVM leaves one.
        for (int i = 1; i < argc; ++i) {
            std::string arg = argv[i];
            if (arg.compare(0, 14, "-XX:ErrorFile=") != 0) continue;
            std::string path = arg.substr(14);
            std::string::size_type p = path.find("%p");
#ifdef _WIN32
            if (p != std::string::npos) path.replace(p, 2, std::to_string(GetCurrentProcessId()));
#else
            if (p != std::string::npos) path.replace(p, 2, std::to_string(getpid()));
#endif
            std::ofstream(path.c_str()) << "# A fatal error has been detected by fakejava\n";
        }
        std::raise(std::atoi(step.c_str() + 7));
        finish(99);
    }
    finish(std::strtoll(step.c_str(), NULL, 0));
    return 0;
}
