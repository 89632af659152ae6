// An image that must fail the image check: console subsystem, a
// wide-character function, and a function that only Windows XP has.
#include <windows.h>

static LONG CALLBACK Ignore(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }

int main(int argc, char**)
{
    if (argc > 100) {
        AddVectoredExceptionHandler(0, Ignore);
        return GetModuleHandleW(NULL) != NULL;
    }
    return 0;
}
