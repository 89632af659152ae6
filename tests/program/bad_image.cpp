// An image that must fail the image check, built the usual way with the
// C runtime and debugging data: console subsystem, msvcrt.dll, the C
// runtime's TLS directory, unwind tables, a symbol table and debugging
// sections (with names longer than 8 characters), a wide-character
// function, and functions that only later Windows versions have.
#include <windows.h>

static LONG CALLBACK Ignore(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }

int main(int argc, char**)
{
    if (argc > 100) {
        AddVectoredExceptionHandler(0, Ignore);  // Windows XP
        HWND parent = GetAncestor(NULL, GA_PARENT);  // Windows 98
        return GetModuleHandleW(NULL) != NULL && parent != NULL;
    }
    return 0;
}
