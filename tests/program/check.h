// A small harness for the program's checks under Wine: each check prints
// its failures, and the run ends with "N passed, N failed".
#ifndef LUMBREL_TESTS_PROGRAM_CHECK_H
#define LUMBREL_TESTS_PROGRAM_CHECK_H

#include <cstdio>
#include <string>

class Checks {
public:
    bool Check(bool ok, const std::string& what)
    {
        if (ok) {
            ++passed_;
        } else {
            ++failed_;
            std::printf("FAILED: %s\n", what.c_str());
        }
        return ok;
    }

    template <typename T>
    bool Equal(const T& expected, const T& actual, const std::string& what)
    {
        return Check(expected == actual, what + ": expected " + Show(expected) + ", got " + Show(actual));
    }

    int Finish()
    {
        std::printf("%d passed, %d failed\n", passed_, failed_);
        std::fflush(stdout);
        return failed_ == 0 && passed_ > 0 ? 0 : 1;
    }

private:
    static std::string Show(const std::string& s) { return "\"" + s + "\""; }
    static std::string Show(const char* s) { return Show(std::string(s)); }
    template <typename T>
    static std::string Show(const T& v)
    {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%lld (0x%llX)", static_cast<long long>(v),
                      static_cast<unsigned long long>(v));
        return buffer;
    }

    int passed_ = 0;
    int failed_ = 0;
};

// A path given on the Unix side names a file on Wine's Z: drive.
inline std::string NativePath(std::string path)
{
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    return path;
}

#endif
