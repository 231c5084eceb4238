// A stand-in for the Java runtime, so that the launcher's tests depend on
// no particular JVM. Like a Java runtime whose own launcher speaks only the
// ANSI code page, it uses narrow paths throughout. Each run appends how it
// was started to fakejava.log in its working directory (its own path, and
// whether the "-jar" file opens relative to that directory), then takes the first step of fakejava.script
// there and exits with its code. A step is a number (decimal, negative or
// 0x hex), "signal:N" (POSIX: dies of signal N), optionally followed by
// ",write=PATH" to create PATH first (as an updater staging a file does).
// No script, or no step left: exit 0.
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <fstream>
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

static void finish(long long code) {
#ifdef _WIN32
    ExitProcess(static_cast<UINT>(code));
#else
    std::exit(static_cast<int>(code));
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
        log << "cwd=" << cwd << "\n";
        log << "argc=" << argc << "\n";
        for (int i = 1; i < argc; ++i) log << "arg[" << i << "]=" << argv[i] << "\n";
        log << "exe=" << ownPath() << "\n";
        for (int i = 1; i + 1 < argc; ++i) {
            if (std::string(argv[i]) != "-jar") continue;
            std::ifstream jar(argv[i + 1], std::ios::binary);
            log << "jar=" << (jar ? "opened" : "missing") << "\n";
            break;
        }
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
        std::ofstream staged(step.substr(comma + 7).c_str(), std::ios::binary);
        staged << "staged by fakejava\n";
        step.erase(comma);
    }
    if (step.compare(0, 7, "signal:") == 0) {
        std::raise(std::atoi(step.c_str() + 7));
        finish(99);
    }
    finish(std::strtoll(step.c_str(), NULL, 0));
    return 0;
}
