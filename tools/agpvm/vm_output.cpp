// agpvm's output: report lines, scenario lines and the program's relayed
// output, serialised by one lock.
#include "vm_output.h"

#include <fcntl.h>
#include <io.h>

#include <cstdarg>

OutputRelay g_relay;

namespace {

FILE* g_report = stdout;
CRITICAL_SECTION g_outputLock;

void WriteLine(FILE* out, const char* prefix, const char* format, va_list args)
{
    EnterCriticalSection(&g_outputLock);
    std::fputs(prefix, out);
    std::vfprintf(out, format, args);
    std::fputc('\n', out);
    std::fflush(out);
    LeaveCriticalSection(&g_outputLock);
}

}  // namespace

void InitOutput()
{
    InitializeCriticalSection(&g_outputLock);
    // Plain line feeds: the report is read by scripts on the Unix side.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

bool SetReportFile(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    g_report = f;
    return true;
}

FILE* ReportStream() { return g_report; }

void CloseReportFile()
{
    if (g_report != stdout) std::fclose(g_report);
    g_report = stdout;
}

void Say(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    WriteLine(g_report, "agpvm: ", format, args);
    va_end(args);
}

void PrintLine(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    WriteLine(stdout, "", format, args);
    va_end(args);
}

bool OutputRelay::Open()
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    if (!CreatePipe(&read_, &write_, &sa, 1 << 16)) return false;
    SetHandleInformation(read_, HANDLE_FLAG_INHERIT, 0);
    input_ = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                         OPEN_EXISTING, 0, nullptr);
    // Processes that Wine starts implicitly take these from agpvm's
    // parameters; agpvm's C runtime keeps the handles it started with.
    SetStdHandle(STD_INPUT_HANDLE, input_);
    SetStdHandle(STD_OUTPUT_HANDLE, write_);
    SetStdHandle(STD_ERROR_HANDLE, write_);
    return true;
}

void OutputRelay::Attach(STARTUPINFOA& startup) const
{
    if (!write_) return;
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = input_;
    startup.hStdOutput = write_;
    startup.hStdError = write_;
}

void OutputRelay::Drain()
{
    if (!read_) return;
    DWORD available = 0;
    char buffer[4096];
    while (PeekNamedPipe(read_, nullptr, 0, nullptr, &available, nullptr) && available) {
        DWORD got = 0;
        if (!ReadFile(read_, buffer, available < sizeof buffer ? available : sizeof buffer, &got,
                      nullptr) ||
            got == 0)
            break;
        EnterCriticalSection(&g_outputLock);
        std::fwrite(buffer, 1, got, stdout);
        std::fflush(stdout);
        LeaveCriticalSection(&g_outputLock);
    }
}
