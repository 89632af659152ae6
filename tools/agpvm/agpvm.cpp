// agpvm: a virtual AGP machine. Runs an unmodified Win32 program under the
// debug API and emulates every port instruction it executes against a PCI
// configuration space loaded from an `lspci -xxx` dump (configuration
// mechanism #1 at ports 0xCF8/0xCFC).
//
// Fast path: at the loader's first breakpoint agpvm loads its handler DLL
// into the program; the DLL's vectored exception handler emulates the
// instructions in place against the machine in shared memory, and agpvm
// detaches. Until then, and throughout with --slow, the debugger emulates
// each instruction itself.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "default_machine.h"
#include "pci_dump.h"
#include "pci_machine.h"
#include "port_emulation.h"
#include "scenario.h"
#include "vm_run.h"
#include "vm_shared.h"

namespace {

enum ExitStatus {
    kExitUsage = 2,
    kExitScenarioFailed = 3,
    kExitIllegalAccess = 4,
    kExitStuck = 5,
    kExitStartFailed = 6,
    kExitCrashed = 7,
};

const char kUsage[] =
    "usage: agpvm [options] [MACHINE.txt] -- PROGRAM.exe [ARGS...]\n"
    "Runs PROGRAM with its port instructions emulated against the PCI machine\n"
    "of MACHINE.txt (an `lspci -xxx` dump; a built-in AGP 2x machine without it).\n"
    "options:\n"
    "  --summary          print access counts and every configuration write\n"
    "  --trace[=FILE]     print every port access in order (op, port, value)\n"
    "  --scenario FILE    drive the program by the steps in FILE\n"
    "  --timeout SECONDS  bound on the whole run (default 60); the program is ended then\n"
    "  --step-timeout S   bound on each scenario step (default 15)\n"
    "  --output FILE      write agpvm's report to FILE instead of standard output\n"
    "  --slow             emulate every instruction in the debugger (no handler DLL)\n"
    "  --plain            no emulation: the program runs as Wine runs it, ports denied\n"
    "  --machine-info     print the machine's functions and exit\n"
    "  --verbose          report each scenario step as it starts\n"
    "  --desktop WxH      size of the Wine virtual desktop the program runs in (640x480)\n"
    "  --no-desktop       run the program on agpvm's own desktop (a real display's)\n"
    "exit status: with a scenario 0 when it passed; otherwise the program's exit code;\n"
    "  2 bad usage or machine, 3 scenario failed, 4 illegal port access, 5 program\n"
    "  stuck, 6 program could not be started, 7 program crashed.\n";

struct Options {
    std::string machinePath;  // empty: the built-in machine
    std::vector<std::string> program;
    bool summary = false;
    bool trace = false;
    std::string traceFile;
    std::string scenarioPath;
    std::string outputPath;
    unsigned timeoutSeconds = 60;
    unsigned stepSeconds = 15;
    bool slow = false;
    bool plain = false;
    bool machineInfo = false;
    bool verbose = false;
    std::string desktopSize = "640x480";  // empty: the program shares agpvm's desktop
};

FILE* g_out = stdout;
CRITICAL_SECTION g_outLock;

void Say(const char* format, ...)
{
    EnterCriticalSection(&g_outLock);
    va_list args;
    va_start(args, format);
    std::fputs("agpvm: ", g_out);
    std::vfprintf(g_out, format, args);
    std::fputc('\n', g_out);
    va_end(args);
    std::fflush(g_out);
    LeaveCriticalSection(&g_outLock);
}

int Usage(const char* problem)
{
    std::fprintf(stderr, "agpvm: %s\n%s", problem, kUsage);
    return kExitUsage;
}

bool ParseSeconds(const char* text, unsigned& seconds)
{
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (!*text || *end || value == 0 || value > 86400) return false;
    seconds = static_cast<unsigned>(value);
    return true;
}

// Returns 0 when the options are good, otherwise the exit status.
int ParseOptions(int argc, char** argv, Options& options)
{
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) return nullptr;
            (void)what;
            return argv[++i];
        };
        if (arg == "--") {
            ++i;
            break;
        } else if (arg == "--summary") {
            options.summary = true;
        } else if (arg == "--trace") {
            options.trace = true;
        } else if (arg.compare(0, 8, "--trace=") == 0 && arg.size() > 8) {
            options.trace = true;
            options.traceFile = arg.substr(8);
        } else if (arg == "--scenario") {
            const char* v = value("--scenario");
            if (!v) return Usage("--scenario needs a file");
            options.scenarioPath = v;
        } else if (arg == "--output") {
            const char* v = value("--output");
            if (!v) return Usage("--output needs a file");
            options.outputPath = v;
        } else if (arg == "--timeout") {
            const char* v = value("--timeout");
            if (!v || !ParseSeconds(v, options.timeoutSeconds))
                return Usage("--timeout needs a whole number of seconds from 1 to 86400");
        } else if (arg == "--step-timeout") {
            const char* v = value("--step-timeout");
            if (!v || !ParseSeconds(v, options.stepSeconds))
                return Usage("--step-timeout needs a whole number of seconds from 1 to 86400");
        } else if (arg == "--slow") {
            options.slow = true;
        } else if (arg == "--plain") {
            options.plain = true;
        } else if (arg == "--desktop") {
            const char* v = value("--desktop");
            unsigned w = 0, h = 0;
            char extra = 0;
            if (!v || std::sscanf(v, "%ux%u%c", &w, &h, &extra) != 2 || w < 320 || h < 200 ||
                w > 4096 || h > 4096)
                return Usage("--desktop needs a size WIDTHxHEIGHT, e.g. 640x480");
            options.desktopSize = v;
        } else if (arg == "--no-desktop") {
            options.desktopSize.clear();
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--machine-info") {
            options.machineInfo = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage(("unknown option " + arg).c_str());
        } else if (options.machinePath.empty()) {
            options.machinePath = arg;
        } else {
            return Usage(("unexpected argument " + arg + " (the program goes after --)").c_str());
        }
    }
    for (; i < argc; ++i) options.program.push_back(argv[i]);
    if (options.slow && options.plain) return Usage("--slow and --plain exclude each other");
    if (options.program.empty() && !options.machineInfo)
        return Usage("no program given (agpvm [options] [MACHINE.txt] -- PROGRAM.exe)");
    return 0;
}

std::string FullPath(const std::string& path)
{
    char buffer[MAX_PATH * 2];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    return n > 0 && n < sizeof buffer ? std::string(buffer) : path;
}

bool ReadTextFile(const std::string& path, std::string& text)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char buffer[4096];
    size_t n;
    text.clear();
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

std::string QuoteArgument(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
        } else if (c == '"') {
            quoted.append(backslashes + 1, '\\');
            backslashes = 0;
        } else {
            backslashes = 0;
        }
        quoted += c;
    }
    quoted.append(backslashes, '\\');
    return quoted + "\"";
}

// ---- the program's output ---------------------------------------------------

// The program, and every process started on its behalf (Wine's desktop
// process among them), writes into a pipe of agpvm's instead of agpvm's
// own standard output. Long-lived helper processes then cannot keep the
// caller's pipe open after agpvm has ended. Drained into agpvm's output.
class OutputRelay {
public:
    bool Open()
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
    void Attach(STARTUPINFOA& startup) const
    {
        if (!write_) return;
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdInput = input_;
        startup.hStdOutput = write_;
        startup.hStdError = write_;
    }
    // Copies whatever the pipe holds now; never blocks.
    void Drain()
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
            EnterCriticalSection(&g_outLock);
            std::fwrite(buffer, 1, got, stdout);
            std::fflush(stdout);
            LeaveCriticalSection(&g_outLock);
        }
    }

private:
    HANDLE read_ = nullptr, write_ = nullptr, input_ = nullptr;
};

OutputRelay g_relay;

// ---- the debugger ----------------------------------------------------------

struct ThreadHandle {
    DWORD id;
    HANDLE handle;
};

class Debugger {
public:
    Debugger(VmRun& run, const Options& options, HANDLE scenarioDone)
        : run_(run), options_(options), scenarioDone_(scenarioDone)
    {
    }

    // Runs the debug loop until the program has ended or, on the fast path,
    // until the handler is in place and agpvm has detached.
    void Loop();

    bool exited = false;
    DWORD exitCode = 0;
    bool detached = false;
    bool stuck = false;
    bool crashed = false;
    DWORD crashCode = 0, crashAddress = 0;
    std::string note;

private:
    HANDLE ThreadOf(DWORD id) const
    {
        for (const ThreadHandle& t : threads_)
            if (t.id == id) return t.handle;
        return nullptr;
    }
    void PlantEntryBreakpoint();
    bool AtEntryBreakpoint(const DEBUG_EVENT& event);
    void Inject();
    bool EmulateInDebugger(const DEBUG_EVENT& event);
    void EndProgram();

    VmRun& run_;
    const Options& options_;
    HANDLE scenarioDone_;
    std::vector<ThreadHandle> threads_;
    bool loaderBreakSeen_ = false;
    uintptr_t entry_ = 0;          // the program's entry point
    bool entryPlanted_ = false;    // a breakpoint sits there
    unsigned char entryByte_ = 0;  // the byte it replaced
    HANDLE remoteThread_ = nullptr;
    DWORD remoteThreadId_ = 0;
    DWORD injectTick_ = 0;
    bool mainSuspended_ = false;
    bool injectionDone_ = false;
    bool terminating_ = false;
    bool detachFailed_ = false;
    DWORD terminateTick_ = 0;
};

void Debugger::EndProgram()
{
    if (terminating_) return;
    terminating_ = true;
    terminateTick_ = GetTickCount();
    TerminateProcess(run_.process, 1);
}

// The handler DLL is loaded once the loader is done (at the loader's
// breakpoint it still holds its lock, and a thread loading a DLL would
// wait for it) but before the program's own code runs: a breakpoint at the
// entry point stops the main thread there. The byte is restored at once;
// the image on disk is never touched.
void Debugger::PlantEntryBreakpoint()
{
    SIZE_T done = 0;
    const unsigned char int3 = 0xCC;
    void* at = reinterpret_cast<void*>(entry_);
    if (entry_ && ReadProcessMemory(run_.process, at, &entryByte_, 1, &done) &&
        WriteProcessMemory(run_.process, at, &int3, 1, &done)) {
        FlushInstructionCache(run_.process, at, 1);
        entryPlanted_ = true;
    } else {
        note = "no breakpoint at the entry point; emulating in the debugger";
        injectionDone_ = true;
    }
}

bool Debugger::AtEntryBreakpoint(const DEBUG_EVENT& event)
{
    const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
    if (!entryPlanted_ || reinterpret_cast<uintptr_t>(record.ExceptionAddress) != entry_)
        return false;
    entryPlanted_ = false;
    SIZE_T done = 0;
    void* at = reinterpret_cast<void*>(entry_);
    WriteProcessMemory(run_.process, at, &entryByte_, 1, &done);
    FlushInstructionCache(run_.process, at, 1);
    HANDLE thread = ThreadOf(event.dwThreadId);
    CONTEXT ctx;
    std::memset(&ctx, 0, sizeof ctx);
    ctx.ContextFlags = CONTEXT_CONTROL;
    if (thread && GetThreadContext(thread, &ctx)) {
        ctx.Eip = static_cast<DWORD>(entry_);
        SetThreadContext(thread, &ctx);
    }
    Inject();
    return true;
}

void Debugger::Inject()
{
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string dll(self, n);
    dll = dll.substr(0, dll.find_last_of("\\/") + 1) + "agpvm_handler.dll";

    FARPROC loadLibrary = GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA");
    // kernel32 sits at the same address in every process; make sure.
    unsigned char mine[16], theirs[16];
    SIZE_T got = 0;
    std::memcpy(mine, reinterpret_cast<const void*>(loadLibrary), sizeof mine);
    if (!ReadProcessMemory(run_.process, reinterpret_cast<const void*>(loadLibrary), theirs,
                           sizeof theirs, &got) ||
        got != sizeof theirs || std::memcmp(mine, theirs, sizeof mine) != 0) {
        note = "LoadLibraryA differs in the program";
        injectionDone_ = true;
        return;
    }
    void* remote = VirtualAllocEx(run_.process, nullptr, dll.size() + 1, MEM_COMMIT | MEM_RESERVE,
                                  PAGE_READWRITE);
    if (!remote || !WriteProcessMemory(run_.process, remote, dll.c_str(), dll.size() + 1, &got)) {
        note = "could not write the handler's path into the program";
        injectionDone_ = true;
        return;
    }
    // Hold the main thread until the handler is in place (the debugger
    // would still emulate its port instructions, only slowly).
    HANDLE main = run_.mainThread;
    if (main && SuspendThread(main) != static_cast<DWORD>(-1)) mainSuspended_ = true;
    remoteThread_ = CreateRemoteThread(
        run_.process, nullptr, 0,
        reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(loadLibrary)), remote, 0,
        &remoteThreadId_);
    injectTick_ = GetTickCount();
    if (!remoteThread_) {
        note = "could not start a thread in the program";
        injectionDone_ = true;
        if (mainSuspended_) ResumeThread(main);
        mainSuspended_ = false;
    }
}

bool Debugger::EmulateInDebugger(const DEBUG_EVENT& event)
{
    const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
    HANDLE thread = ThreadOf(event.dwThreadId);
    if (!thread || !run_.vm) return false;
    CONTEXT ctx;
    std::memset(&ctx, 0, sizeof ctx);
    ctx.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
    if (!GetThreadContext(thread, &ctx)) return false;
    uint8_t bytes[16] = {};
    SIZE_T got = 0;
    size_t count = 16;
    while (count > 0 &&
           !ReadProcessMemory(run_.process, record.ExceptionAddress, bytes, count, &got))
        --count;
    IoInstruction io;
    if (!DecodeIoInstruction(bytes, count, io)) return false;
    IoRegisters regs = {ctx.Eax, ctx.Edx, ctx.Ecx, ctx.Eip};
    const DWORD tick = GetTickCount();
    if (!run_.vm->firstAccessTick) run_.vm->firstAccessTick = tick;
    EmulateIo(*run_.vm, io, bytes, regs);
    ++run_.vm->slowAccesses;
    run_.vm->lastAccessTick = GetTickCount();
    ctx.Eax = regs.eax;
    ctx.Ecx = regs.ecx;
    ctx.Eip = regs.eip;
    return SetThreadContext(thread, &ctx) != 0;
}

void Debugger::Loop()
{
    const bool fast = !options_.slow;
    for (;;) {
        if (!terminating_ && RemainingMs(run_) == 0) {
            stuck = true;
            EndProgram();
        }
        if (!terminating_ && scenarioDone_ &&
            WaitForSingleObject(scenarioDone_, 0) == WAIT_OBJECT_0)
            EndProgram();  // the scenario is over; a program still running is ended
        if (terminating_ && GetTickCount() - terminateTick_ > 10000) {
            note = "the program did not end after TerminateProcess";
            return;
        }
        if (mainSuspended_ && GetTickCount() - injectTick_ > 5000) {
            // The handler did not come up in time; go on in the debugger.
            ResumeThread(run_.mainThread);
            mainSuspended_ = false;
            note = "the handler DLL did not load in time; emulating in the debugger";
        }

        g_relay.Drain();
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, 50)) continue;
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
            entry_ = reinterpret_cast<uintptr_t>(event.u.CreateProcessInfo.lpStartAddress);
            threads_.push_back({event.dwThreadId, event.u.CreateProcessInfo.hThread});
            break;
        case CREATE_THREAD_DEBUG_EVENT:
            threads_.push_back({event.dwThreadId, event.u.CreateThread.hThread});
            break;
        case EXIT_THREAD_DEBUG_EVENT:
            if (event.dwThreadId == remoteThreadId_ && !injectionDone_) {
                injectionDone_ = true;
                if (event.u.ExitThread.dwExitCode == 0 || !run_.vm->handlerReady)
                    note = "the handler DLL could not be loaded; emulating in the debugger";
                else
                    InterlockedExchange(&run_.handlerLoaded, 1);
            }
            for (size_t i = 0; i < threads_.size(); ++i)
                if (threads_[i].id == event.dwThreadId) {
                    threads_.erase(threads_.begin() + i);
                    break;
                }
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            exited = true;
            exitCode = event.u.ExitProcess.dwExitCode;
            break;
        case EXCEPTION_DEBUG_EVENT: {
            const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
            if (record.ExceptionCode == EXCEPTION_BREAKPOINT && !loaderBreakSeen_) {
                loaderBreakSeen_ = true;
                if (run_.vm) PlantEntryBreakpoint();
                else injectionDone_ = true;
            } else if (record.ExceptionCode == EXCEPTION_BREAKPOINT && AtEntryBreakpoint(event)) {
                status = DBG_CONTINUE;
            } else if (record.ExceptionCode == EXCEPTION_PRIV_INSTRUCTION &&
                       EmulateInDebugger(event)) {
                status = DBG_CONTINUE;
            } else {
                status = DBG_EXCEPTION_NOT_HANDLED;
                if (!event.u.Exception.dwFirstChance && !crashed) {
                    crashed = true;
                    crashCode = record.ExceptionCode;
                    crashAddress = static_cast<DWORD>(
                        reinterpret_cast<uintptr_t>(record.ExceptionAddress));
                }
            }
            break;
        }
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (exited) return;

        if (fast && !detachFailed_ && injectionDone_ && run_.handlerLoaded && !terminating_) {
            // The handler emulates from here on; the debugger steps aside
            // before the main thread goes on, so that no exception of the
            // program is left waiting for a debugger that has gone.
            DebugSetProcessKillOnExit(FALSE);
            if (DebugActiveProcessStop(run_.pid)) {
                detached = true;
                if (mainSuspended_) ResumeThread(run_.mainThread);
                mainSuspended_ = false;
                return;
            }
            note = "could not detach; emulating in the debugger";
            detachFailed_ = true;
        }
        if (injectionDone_ && mainSuspended_) {
            ResumeThread(run_.mainThread);
            mainSuspended_ = false;
        }
    }
}

// ---- the scenario thread -----------------------------------------------------

struct ScenarioJob {
    const Scenario* scenario;
    VmRun* run;
    ScenarioResult result;
};

DWORD WINAPI ScenarioThread(LPVOID param)
{
    ScenarioJob* job = static_cast<ScenarioJob*>(param);
    // The driver works on the program's desktop, where its windows are.
    if (job->run->desktop && !SetThreadDesktop(job->run->desktop)) {
        job->result.message = "cannot switch to the program's desktop";
        return 0;
    }
    job->result = RunScenario(*job->scenario, *job->run);
    return 0;
}

// ---- the report --------------------------------------------------------------

void PrintTrace(const VmShared& vm, FILE* out)
{
    const uint32_t count = vm.accessCount < kVmLogCapacity ? vm.accessCount : kVmLogCapacity;
    for (uint32_t i = 0; i < count; ++i) {
        const VmAccess& a = vm.log[i];
        const char* op = a.op == kVmIn ? "in" : "out";
        if (a.size == 4)
            std::fprintf(out, "%-3s %04x %08lx\n", op, a.port, static_cast<unsigned long>(a.value));
        else
            std::fprintf(out, "%s%u %04x %0*lx\n", op, a.size * 8u, a.port, a.size * 2,
                         static_cast<unsigned long>(a.value));
    }
    if (vm.accessCount > kVmLogCapacity)
        std::fprintf(out, "... %lu more accesses not kept\n",
                     static_cast<unsigned long>(vm.accessCount - kVmLogCapacity));
}

void PrintSummary(const VmShared& vm, const VmRun& run)
{
    Say("%lu port accesses: %lu in, %lu out; configuration reads %lu, writes %lu; address "
        "writes %lu, reads %lu",
        static_cast<unsigned long>(vm.accessCount), static_cast<unsigned long>(vm.inCount),
        static_cast<unsigned long>(vm.outCount), static_cast<unsigned long>(vm.configReads),
        static_cast<unsigned long>(vm.configWrites), static_cast<unsigned long>(vm.addressWrites),
        static_cast<unsigned long>(vm.addressReads));
    Say("emulated in the program %lu, by the debugger %lu",
        static_cast<unsigned long>(vm.fastAccesses), static_cast<unsigned long>(vm.slowAccesses));
    if (vm.accessCount) {
        const unsigned long ms = vm.lastAccessTick - vm.firstAccessTick;
        Say("emulation: %lu accesses from the first to the last within %lu ms", 
            static_cast<unsigned long>(vm.accessCount), ms);
    }
    const uint32_t writes =
        vm.configWrites < kVmMaxConfigWrites ? vm.configWrites : kVmMaxConfigWrites;
    for (uint32_t i = 0; i < writes; ++i) {
        const VmConfigWrite& w = vm.writes[i];
        if (!(w.address & 0x80000000u))
            Say("configuration write with the enable bit clear (latch %08lx): %08lx dropped",
                static_cast<unsigned long>(w.address), static_cast<unsigned long>(w.newValue));
        else
            Say("configuration write %s reg %02lx: %08lx -> %08lx%s", ConfigLocation(w.address).c_str(),
                static_cast<unsigned long>(w.address & 0xFC),
                static_cast<unsigned long>(w.oldValue), static_cast<unsigned long>(w.newValue),
                w.present ? "" : " (no such function)");
    }
    if (vm.configWrites > kVmMaxConfigWrites)
        Say("... %lu more configuration writes not kept",
            static_cast<unsigned long>(vm.configWrites - kVmMaxConfigWrites));
    uint32_t prevAccesses = 0, prevReads = 0, prevWrites = 0;
    for (const PhaseMark& m : run.marks) {
        Say("phase %s: configuration reads %lu, writes %lu (port accesses %lu) at %lu ms",
            m.name.c_str(), static_cast<unsigned long>(m.configReads - prevReads),
            static_cast<unsigned long>(m.configWrites - prevWrites),
            static_cast<unsigned long>(m.accessCount - prevAccesses),
            static_cast<unsigned long>(m.elapsedMs));
        prevAccesses = m.accessCount;
        prevReads = m.configReads;
        prevWrites = m.configWrites;
    }
    if (run.dialogShownMs >= 0)
        Say("dialog shown %ld ms after launch", static_cast<long>(run.dialogShownMs));
}

// Reports illegal accesses; true when there were any.
bool ReportIllegal(const VmShared& vm)
{
    if (vm.illegalCount == 0) return false;
    Say("FAIL: %lu port access(es) other than 32 bits at 0xCF8/0xCFC",
        static_cast<unsigned long>(vm.illegalCount));
    const uint32_t n = vm.illegalCount < kVmMaxIllegal ? vm.illegalCount : kVmMaxIllegal;
    for (uint32_t i = 0; i < n; ++i) {
        const VmIllegal& bad = vm.illegal[i];
        char bytes[40] = "";
        for (int b = 0; b < 4; ++b)
            std::snprintf(bytes + std::strlen(bytes), sizeof bytes - std::strlen(bytes), "%02x ",
                          bad.bytes[b]);
        Say("  illegal %s%s of %u bits at port %04x (value %lx) by the instruction at %08lx [%s]",
            bad.flags & kIoString ? "string " : "", bad.op == kVmIn ? "in" : "out",
            bad.size * 8u, bad.port, static_cast<unsigned long>(bad.value),
            static_cast<unsigned long>(bad.eip), bytes);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    InitializeCriticalSection(&g_outLock);
    // Plain line feeds: the report is read by scripts on the Unix side.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    Options options;
    if (int status = ParseOptions(argc, argv, options)) return status;

    if (!options.outputPath.empty()) {
        g_out = std::fopen(ToWindowsPath(options.outputPath).c_str(), "wb");
        if (!g_out) {
            g_out = stdout;
            std::fprintf(stderr, "agpvm: cannot write %s\n", options.outputPath.c_str());
            return kExitUsage;
        }
    }

    // The machine.
    std::vector<PciDumpFunction> functions;
    std::string error;
    std::string machineName = "built-in AGP 2x machine";
    if (options.machinePath.empty()) {
        if (!ParsePciDump(kDefaultMachineText, "built-in machine", functions, error)) {
            std::fprintf(stderr, "agpvm: %s\n", error.c_str());
            return kExitUsage;
        }
    } else {
        machineName = options.machinePath;
        std::string text;
        if (!ReadTextFile(ToWindowsPath(options.machinePath), text)) {
            std::fprintf(stderr, "agpvm: cannot read machine file %s\n",
                         options.machinePath.c_str());
            return kExitUsage;
        }
        if (!ParsePciDump(text, options.machinePath, functions, error)) {
            std::fprintf(stderr, "agpvm: bad machine file: %s\n", error.c_str());
            return kExitUsage;
        }
    }
    // lspci run without root privileges shows only the first 64 bytes, which
    // hides the capability list; say so rather than let the run look odd.
    for (const PciDumpFunction& f : functions)
        if (f.bytesGiven < 256)
            std::fprintf(stderr,
                         "agpvm: warning: %02x:%02x.%x gives only %u of its 256 configuration "
                         "bytes; the rest read as 0 (run lspci -xxx as root for all of them)\n",
                         f.bus, f.devFn >> 3, f.devFn & 7, f.bytesGiven);
    // Built here, before the program starts, so that a machine that does
    // not fit is reported like any bad machine file.
    std::vector<PciMachine> built(1);
    if (!BuildPciMachine(functions, built[0], error)) {
        std::fprintf(stderr, "agpvm: bad machine file: %s\n", error.c_str());
        return kExitUsage;
    }
    if (options.machineInfo) {
        std::printf("%s: %u function(s)\n", machineName.c_str(),
                    static_cast<unsigned>(functions.size()));
        for (const PciDumpFunction& f : functions)
            std::printf("%02x:%02x.%x %s\n", f.bus, f.devFn >> 3, f.devFn & 7,
                        f.description.c_str());
        return 0;
    }

    // The scenario.
    Scenario scenario;
    if (!options.scenarioPath.empty()) {
        std::string text;
        if (!ReadTextFile(ToWindowsPath(options.scenarioPath), text)) {
            std::fprintf(stderr, "agpvm: cannot read scenario %s\n", options.scenarioPath.c_str());
            return kExitUsage;
        }
        if (!ParseScenario(text, options.scenarioPath, scenario, error)) {
            std::fprintf(stderr, "agpvm: bad scenario: %s\n", error.c_str());
            return kExitUsage;
        }
    }

    // The program.
    VmRun run;
    run.verbose = options.verbose;
    run.stepBoundMs = options.stepSeconds * 1000;
    run.programPath = FullPath(ToWindowsPath(options.program[0]));
    if (GetFileAttributesA(run.programPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::fprintf(stderr, "agpvm: program %s not found\n", options.program[0].c_str());
        return kExitUsage;
    }
    std::string commandLine = QuoteArgument(run.programPath);
    for (size_t i = 1; i < options.program.size(); ++i)
        commandLine += " " + QuoteArgument(options.program[i]);

    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    // A Wine virtual desktop of its own: windows get title bars and system
    // menus without a window manager, closing a window does not wait for
    // one, and parallel runs do not share focus. Wine makes a desktop
    // virtual when the registry gives its size.
    std::string desktopName;
    HKEY desktops = nullptr;
    if (!options.desktopSize.empty()) {
        desktopName = "agpvm-" + std::to_string(GetCurrentProcessId());
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Explorer\\Desktops", 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, &desktops, nullptr) == ERROR_SUCCESS)
            RegSetValueExA(desktops, desktopName.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(options.desktopSize.c_str()),
                           options.desktopSize.size() + 1);
        run.desktop = CreateDesktopA(desktopName.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        if (!run.desktop) {
            Say("FAIL: cannot create a desktop (error %lu)", GetLastError());
            return kExitStartFailed;
        }
        startup.lpDesktop = &desktopName[0];
    }
    PROCESS_INFORMATION pi;
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(0);
    if (g_relay.Open()) g_relay.Attach(startup);
    const DWORD flags = options.plain ? 0 : DEBUG_ONLY_THIS_PROCESS;
    run.startTick = GetTickCount();
    run.deadline = run.startTick + options.timeoutSeconds * 1000;
    if (!CreateProcessA(run.programPath.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, flags,
                        nullptr, nullptr, &startup, &pi)) {
        Say("FAIL: cannot start %s (error %lu)", run.programPath.c_str(), GetLastError());
        return kExitStartFailed;
    }
    run.process = pi.hProcess;
    run.pid = pi.dwProcessId;
    run.mainThreadId = pi.dwThreadId;
    run.mainThread = pi.hThread;

    // A job, so that the program and whatever it starts end with agpvm.
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
        std::memset(&limits, 0, sizeof limits);
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        AssignProcessToJobObject(job, pi.hProcess);
    }

    HANDLE mapping = nullptr;
    if (!options.plain) {
        char name[64];
        VmMappingName(run.pid, name, sizeof name);
        mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                     sizeof(VmShared), name);
        run.vm = mapping ? static_cast<VmShared*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0))
                         : nullptr;
        if (!run.vm) {
            Say("FAIL: cannot create the shared machine (error %lu)", GetLastError());
            TerminateProcess(pi.hProcess, 1);
            return kExitStartFailed;
        }
        VmShared& vm = *run.vm;
        vm.magic = kVmSharedMagic;
        vm.version = kVmSharedVersion;
        vm.sizeBytes = sizeof(VmShared);
        vm.machine = built[0];
    }
    Say("running %s on %s (%u functions)%s", run.programPath.c_str(), machineName.c_str(),
        static_cast<unsigned>(functions.size()),
        options.plain ? " without emulation" : options.slow ? " emulated by the debugger" : "");

    ScenarioJob scenarioJob = {&scenario, &run, ScenarioResult()};
    HANDLE scenarioThread = nullptr;
    if (!options.scenarioPath.empty())
        scenarioThread = CreateThread(nullptr, 0, ScenarioThread, &scenarioJob, 0, nullptr);

    Debugger debugger(run, options, scenarioThread);
    bool stuck = false;
    DWORD exitCode = 0;
    bool exited = false;
    if (!options.plain) {
        debugger.Loop();
        if (!debugger.note.empty()) Say("note: %s", debugger.note.c_str());
        stuck = debugger.stuck;
        exited = debugger.exited;
        exitCode = debugger.exitCode;
    }
    if (!exited) {
        // Fast path after detaching, or no emulation at all: wait for the
        // program (and the scenario) within the deadline.
        HANDLE handles[2] = {run.process, scenarioThread};
        const DWORD count = scenarioThread ? 2 : 1;
        for (;;) {
            g_relay.Drain();
            const DWORD left = RemainingMs(run);
            const DWORD r = WaitForMultipleObjects(count, handles, FALSE, left < 50 ? left : 50);
            if (r == WAIT_TIMEOUT && left > 50) continue;
            if (r == WAIT_OBJECT_0) break;
            if (r == WAIT_OBJECT_0 + 1) {
                // Scenario over; the program gets a moment to end by itself.
                if (WaitForSingleObject(run.process, 0) != WAIT_OBJECT_0) {
                    TerminateProcess(run.process, 1);
                    WaitForSingleObject(run.process, 10000);
                }
                break;
            }
            stuck = true;
            TerminateProcess(run.process, 1);
            WaitForSingleObject(run.process, 10000);
            break;
        }
        GetExitCodeProcess(run.process, &exitCode);
    }
    if (scenarioThread) {
        // The scenario's own waits are bounded by the same deadline.
        if (WaitForSingleObject(scenarioThread, 15000) != WAIT_OBJECT_0) {
            Say("FAIL: the scenario driver did not finish");
            stuck = true;
        }
    }

    g_relay.Drain();
    int status = static_cast<int>(exitCode);
    if (run.vm) {
        if (options.trace) {
            FILE* traceOut = g_out;
            if (!options.traceFile.empty())
                traceOut = std::fopen(ToWindowsPath(options.traceFile).c_str(), "wb");
            if (!traceOut) {
                Say("cannot write %s", options.traceFile.c_str());
            } else {
                PrintTrace(*run.vm, traceOut);
                if (traceOut != g_out) std::fclose(traceOut);
            }
        }
        if (options.summary) PrintSummary(*run.vm, run);
        for (uint32_t i = 0; i < run.vm->exceptionCount && i < kVmMaxExceptions; ++i)
            Say("note: exception %08lx at %08lx passed on to the program",
                static_cast<unsigned long>(run.vm->exceptions[i].code),
                static_cast<unsigned long>(run.vm->exceptions[i].eip));
    } else if (options.summary && run.dialogShownMs >= 0) {
        Say("dialog shown %ld ms after launch", static_cast<long>(run.dialogShownMs));
    }
    Say("program exit code %lu (0x%08lx)", exitCode, exitCode);

    bool failed = false;
    if (scenarioThread) {
        const ScenarioResult& r = scenarioJob.result;
        if (r.passed) {
            Say("scenario %s passed", options.scenarioPath.c_str());
            status = 0;
        } else {
            Say("FAIL: scenario %s: %s", options.scenarioPath.c_str(), r.message.c_str());
            status = kExitScenarioFailed;
            failed = true;
        }
    }
    if (run.vm && run.vm->crashed && !debugger.crashed) {
        debugger.crashed = true;
        debugger.crashCode = run.vm->crashCode;
        debugger.crashAddress = run.vm->crashEip;
    }
    if (debugger.crashed) {
        Say("FAIL: the program crashed: unhandled exception %08lx at %08lx", debugger.crashCode,
            debugger.crashAddress);
        if (!failed) status = kExitCrashed;
        failed = true;
    } else if ((exitCode & 0xC0000000u) == 0xC0000000u && exitCode != 0xFFFFFFFFu && !stuck) {
        Say("FAIL: the program ended with exception status %08lx", exitCode);
        if (!failed) status = kExitCrashed;
        failed = true;
    }
    if (run.vm && ReportIllegal(*run.vm)) {
        if (!failed) status = kExitIllegalAccess;
        failed = true;
    }
    if (stuck) {
        Say("FAIL: the program was still running after %u s and has been ended",
            options.timeoutSeconds);
        if (!failed) status = kExitStuck;
    }
    if (desktops) {
        RegDeleteValueA(desktops, desktopName.c_str());
        RegCloseKey(desktops);
    }
    if (g_out != stdout) std::fclose(g_out);
    return status;
}
