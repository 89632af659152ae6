// The program's own start-up, in place of a C runtime's: the image then
// needs no C runtime DLL, only the system's KERNEL32 and USER32. The entry
// point constructs the static objects, calls WinMain, runs the exit-time
// registrations (static destructors among them) in reverse order and ends
// the process with WinMain's result.
#include <windows.h>

#include <cstddef>

extern "C" {

typedef void (*StaticFunction)();

// The linker's lists of the .ctors and .dtors sections: -1, the functions
// in link order, 0.
extern StaticFunction __CTOR_LIST__[];
extern StaticFunction __DTOR_LIST__[];

}  // extern "C"

namespace {

// What the compiler registers: one function per static object with a
// destructor, and whatever the program registers itself. The C++ standard
// asks for room for 32.
const int kMaxExitFunctions = 32;
StaticFunction g_exitFunctions[kMaxExitFunctions];
int g_exitCount = 0;

// Constructors run from the end of the list to its start, as the C runtime
// of mingw-w64 runs them: files linked later first, each file's objects in
// the order they are defined.
void RunConstructors()
{
    size_t count = 0;
    while (__CTOR_LIST__[count + 1] != NULL) ++count;
    for (size_t i = count; i >= 1; --i) __CTOR_LIST__[i]();
}

// The newest registration first; one made meanwhile runs next.
void RunExitFunctions()
{
    while (g_exitCount > 0) g_exitFunctions[--g_exitCount]();
    for (size_t i = 1; __DTOR_LIST__[i] != NULL; ++i) __DTOR_LIST__[i]();
}

// The arguments of the command line: what follows the program's name, the
// name quoted or up to the first blank, and the blanks after it.
LPSTR CommandLineArguments(LPSTR line)
{
    if (*line == '"') {
        ++line;
        while (*line != '\0' && *line != '"') ++line;
        if (*line == '"') ++line;
    } else {
        while (*line != '\0' && *line != ' ' && *line != '\t') ++line;
    }
    while (*line == ' ' || *line == '\t') ++line;
    return line;
}

}  // namespace

extern "C" int atexit(StaticFunction function)
{
    if (g_exitCount == kMaxExitFunctions) return -1;
    g_exitFunctions[g_exitCount++] = function;
    return 0;
}

// Deleting destructors refer to it; the program has no heap (and no
// operator new), so there is never anything to free.
void operator delete(void*) noexcept {}
void operator delete(void*, size_t) noexcept {}

extern "C" __attribute__((noreturn)) void LumbrelEntry()
{
    RunConstructors();
    const int result = WinMain(::GetModuleHandleA(NULL), NULL,
                               CommandLineArguments(::GetCommandLineA()), SW_SHOWDEFAULT);
    RunExitFunctions();
    ::ExitProcess(static_cast<UINT>(result));
}
