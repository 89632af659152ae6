// The start-up of a program without a C runtime (frame/startup.cpp), in a
// program linked as lumbrel.exe is: static objects constructed before
// WinMain, WinMain's arguments, exit-time registrations run in reverse order
// after it (one made during the exit runs next), the .dtors functions last,
// and the process ending with WinMain's result. Also the memory and string
// functions that the start-up provides. Each event is written to standard
// output at once; the test compares the whole output and the exit status.
#include <windows.h>

#include <cstddef>
#include <cstring>  // declarations only: the definitions are the start-up's

#include "startup_check.h"

void Say(const char* a, const char* b)
{
    char line[128];
    DWORD n = 0;
    for (const char* s = a; *s != '\0' && n < sizeof line - 1; ++s) line[n++] = *s;
    for (const char* s = b; *s != '\0' && n < sizeof line - 1; ++s) line[n++] = *s;
    line[n++] = '\n';
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), line, n, &written, NULL);
}

Traced::Traced(const char* name) : m_name(name), m_onDestroy(NULL) { Say("construct ", m_name); }

Traced::~Traced()
{
    Say("destroy ", m_name);
    if (m_onDestroy != NULL) m_onDestroy();
}

namespace {

// A function-local static first used during the exit: registered then, it
// is destroyed next.
void UseLateLocal() { static Traced late("late local"); }

Traced first1("first 1");
Traced first2("first 2");

struct LateUser {
    LateUser() { first1.m_onDestroy = &UseLateLocal; }
} lateUser;

void UseLocal() { static Traced local("local"); }

void RegisteredInWinMain() { Say("exit function from WinMain"); }

__attribute__((destructor)) void DestructorFunction() { Say("destructor function"); }

// Calls through pointers, so that each is the function itself and not the
// compiler's inline expansion.
void* (*volatile g_memcpy)(void*, const void*, size_t) = &memcpy;
void* (*volatile g_memmove)(void*, const void*, size_t) = &memmove;
void* (*volatile g_memset)(void*, int, size_t) = &memset;
int (*volatile g_memcmp)(const void*, const void*, size_t) = &memcmp;
size_t (*volatile g_strlen)(const char*) = &strlen;

int g_failed = 0;

void Expect(bool ok, const char* what)
{
    if (!ok) {
        Say("FAILED: ", what);
        ++g_failed;
    }
}

// Nine bytes, "abcdefgh" and its terminator.
void Reset(char* buffer)
{
    for (int i = 0; i < 8; ++i) buffer[i] = static_cast<char>('a' + i);
    buffer[8] = '\0';
}

bool Holds(const char* buffer, const char* text)
{
    while (*text != '\0' && *buffer == *text) ++buffer, ++text;
    return *buffer == *text;
}

void CheckStringFunctions()
{
    char buffer[9];
    Reset(buffer);
    Expect(g_memcpy(buffer, "XYZ", 3) == buffer && Holds(buffer, "XYZdefgh"), "memcpy");

    Reset(buffer);
    Expect(g_memmove(buffer + 2, buffer, 5) == buffer + 2 && Holds(buffer, "ababcdeh"),
           "memmove onto a later, overlapping part");
    Reset(buffer);
    Expect(g_memmove(buffer, buffer + 2, 5) == buffer && Holds(buffer, "cdefgfgh"),
           "memmove onto an earlier, overlapping part");

    Reset(buffer);
    Expect(g_memset(buffer + 1, 0x100 + '*', 3) == buffer + 1 && Holds(buffer, "a***efgh"),
           "memset stores the value's low byte");

    const unsigned char high[] = {1, 0x80};
    const unsigned char low[] = {1, 0x01};
    Expect(g_memcmp(high, low, 2) > 0 && g_memcmp(low, high, 2) < 0,
           "memcmp compares bytes as unsigned");
    Expect(g_memcmp(high, high, 2) == 0 && g_memcmp(high, low, 1) == 0 && g_memcmp(high, low, 0) == 0,
           "memcmp of equal bytes");

    Expect(g_strlen("") == 0 && g_strlen("lumbrel") == 7, "strlen");
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show)
{
    Say("WinMain");
    Expect(instance == ::GetModuleHandleA(NULL), "instance is the program's module");
    Expect(previous == NULL, "no previous instance");
    Expect(show == SW_SHOWDEFAULT, "shown as the starter asked (SW_SHOWDEFAULT)");
    Say("arguments ", arguments);
    CheckStringFunctions();

    UseLocal();
    ::atexit(&RegisteredInWinMain);
    return g_failed == 0 ? 3 : 1;
}
