#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <typeinfo>

#include "main.h"

int main(int argc, char** argv) {
    return launcherMain(argc, argv);
}

// The handler std::terminate calls by default, in place of the C++
// runtime's own: that one demangles the exception's type name, and the
// demangler alone is some 46 KB of the static Windows executable. This
// one says the same, with the type's name as the compiler spells it
// (St9bad_alloc for std::bad_alloc), then aborts as that one does.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    static bool terminating = false;
    if (terminating) {
        std::fputs("terminate called recursively\n", stderr);
        std::abort();
    }
    terminating = true;
    std::type_info* type = abi::__cxa_current_exception_type();
    if (type == NULL) {
        std::fputs("terminate called without an active exception\n", stderr);
        std::abort();
    }
    const char* name = type->name();
    if (*name == '*') ++name;
    // Pieces, not a format: printf's formatter is some 27 KB of the
    // static Windows executable.
    std::fputs("terminate called after throwing an instance of '", stderr);
    std::fputs(name, stderr);
    std::fputs("'\n", stderr);
    try {
        throw;
    } catch (const std::exception& e) {
        std::fputs("  what():  ", stderr);
        std::fputs(e.what(), stderr);
        std::fputs("\n", stderr);
    } catch (...) {
    }
    std::abort();
}
}  // namespace __gnu_cxx
