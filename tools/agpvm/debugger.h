// The debugger side of agpvm: starts the program's emulation at its entry
// point, loads the handler DLL into it, emulates port instructions itself
// until then (or throughout with --slow), and notes how the program ended.
#ifndef LUMBREL_AGPVM_DEBUGGER_H
#define LUMBREL_AGPVM_DEBUGGER_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "vm_run.h"

class Debugger {
public:
    // `slow`: keep every port instruction in the debugger. `scenarioDone`
    // (may be null) is signalled when the scenario has ended.
    Debugger(VmRun& run, bool slow, HANDLE scenarioDone)
        : run_(run), slow_(slow), scenarioDone_(scenarioDone)
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
    struct ThreadHandle {
        DWORD id;
        HANDLE handle;
    };
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
    const bool slow_;
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

#endif
