// The debugger side of agpvm: the debug loop, the entry-point hold, the
// injection of the handler DLL, and emulation in the debugger.
#include "debugger.h"

#include <cstring>

#include "port_emulation.h"
#include "vm_output.h"

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
    const bool fast = !slow_;
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
