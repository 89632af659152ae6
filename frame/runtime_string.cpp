// The memory and string functions that the compiler may call on its own
// (structure copies, zeroed arrays, loops it recognises), for a program
// linked without a C runtime. Built with loop-pattern recognition off, so
// that none of these loops becomes a call of itself.
#include <cstddef>

extern "C" {

void* memcpy(void* to, const void* from, size_t count)
{
    unsigned char* d = static_cast<unsigned char*>(to);
    const unsigned char* s = static_cast<const unsigned char*>(from);
    while (count-- > 0) *d++ = *s++;
    return to;
}

void* memmove(void* to, const void* from, size_t count)
{
    unsigned char* d = static_cast<unsigned char*>(to);
    const unsigned char* s = static_cast<const unsigned char*>(from);
    if (d < s) {
        while (count-- > 0) *d++ = *s++;
    } else {
        // From the end, so that an overlapping source is read before it is
        // overwritten.
        while (count-- > 0) d[count] = s[count];
    }
    return to;
}

void* memset(void* to, int value, size_t count)
{
    unsigned char* d = static_cast<unsigned char*>(to);
    while (count-- > 0) *d++ = static_cast<unsigned char>(value);
    return to;
}

int memcmp(const void* a, const void* b, size_t count)
{
    const unsigned char* x = static_cast<const unsigned char*>(a);
    const unsigned char* y = static_cast<const unsigned char*>(b);
    for (; count > 0; --count, ++x, ++y)
        if (*x != *y) return *x < *y ? -1 : 1;
    return 0;
}

size_t strlen(const char* s)
{
    size_t n = 0;
    while (s[n] != '\0') ++n;
    return n;
}

}  // extern "C"
