// What agpvm knows about one run of the program, shared between the
// debugger loop, the scenario driver and the report.
#ifndef LUMBREL_AGPVM_VM_RUN_H
#define LUMBREL_AGPVM_VM_RUN_H

#include <windows.h>

#include <string>
#include <vector>

#include "vm_shared.h"

struct PhaseMark {
    std::string name;
    uint32_t accessCount, configReads, configWrites, addressWrites;
    DWORD elapsedMs;
};

struct VmRun {
    HANDLE process = nullptr;
    HDESK desktop = nullptr;         // the program's virtual desktop, if any
    DWORD pid = 0;
    DWORD mainThreadId = 0;
    VmShared* vm = nullptr;          // null when the program runs without emulation
    std::string programPath;         // as the program was started (a Windows path)
    DWORD startTick = 0;             // GetTickCount at launch
    DWORD deadline = 0;              // GetTickCount value that ends the run
    volatile LONG handlerLoaded = 0; // the handler DLL is in the program (menu read-out works)
    volatile LONG dialogShownMs = -1;
    bool verbose = false;            // report each scenario step as it starts
    std::vector<PhaseMark> marks;
};

// Milliseconds left before the run's deadline (0 when it has passed).
inline DWORD RemainingMs(const VmRun& run)
{
    const LONG left = static_cast<LONG>(run.deadline - GetTickCount());
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

#endif
