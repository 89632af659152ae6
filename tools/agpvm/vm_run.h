// What agpvm knows about one run of the program, shared between the
// debugger loop, the scenario driver and the report.
#ifndef LUMBREL_AGPVM_VM_RUN_H
#define LUMBREL_AGPVM_VM_RUN_H

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "pci_machine.h"
#include "vm_shared.h"

// The function a configuration address reaches, as bus:dev.fn.
inline std::string ConfigLocation(uint32_t address)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02x:%02x.%x", static_cast<unsigned>((address >> 16) & 0xFF),
                  static_cast<unsigned>((address >> 11) & 0x1F),
                  static_cast<unsigned>((address >> 8) & 7));
    return text;
}

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
    HANDLE mainThread = nullptr;
    VmShared* vm = nullptr;          // null when the program runs without emulation
    const PciMachine* initialMachine = nullptr;  // the machine as loaded, before the program ran
    std::string programPath;         // as the program was started (a Windows path)
    DWORD startTick = 0;             // GetTickCount at launch
    DWORD deadline = 0;              // GetTickCount value that ends the run
    volatile LONG handlerLoaded = 0; // the handler DLL is in the program (menu read-out works)
    volatile LONG dialogShownMs = -1;
    bool verbose = false;
    DWORD stepBoundMs = 15000;       // bound on each scenario step
    std::vector<PhaseMark> marks;
};

// Unix paths (as given on a Linux command line) become Windows paths on
// Wine's Z: drive; anything else is taken as it is.
inline std::string ToWindowsPath(const std::string& path)
{
    if (path.empty() || path[0] != '/') return path;
    typedef WCHAR*(CDECL * DosNameFn)(LPCSTR);
    DosNameFn dosName = reinterpret_cast<DosNameFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
    if (!dosName) return path;
    WCHAR* wide = dosName(path.c_str());
    if (!wide) return path;
    char buffer[MAX_PATH * 2];
    const int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer, sizeof buffer, nullptr, nullptr);
    HeapFree(GetProcessHeap(), 0, wide);
    return n > 0 ? std::string(buffer) : path;
}

// Milliseconds left before the run's deadline (0 when it has passed).
inline DWORD RemainingMs(const VmRun& run)
{
    const LONG left = static_cast<LONG>(run.deadline - GetTickCount());
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

#endif
