// Starting the program: its command line, a Wine virtual desktop of its
// own, the process itself (under the debugger unless --plain), a job that
// ends it with agpvm, and the shared machine its handler will serve.
#ifndef LUMBREL_AGPVM_LAUNCH_H
#define LUMBREL_AGPVM_LAUNCH_H

#include <windows.h>

#include <string>
#include <vector>

#include "pci_machine.h"
#include "vm_run.h"

struct LaunchRequest {
    std::vector<std::string> program;  // program path and its arguments
    std::string desktopSize;           // "WxH"; empty: agpvm's own desktop
    bool debug = true;                 // false: plain Wine, no emulation
    const PciMachine* machine = nullptr;
    unsigned timeoutSeconds = 60;
};

// What must be undone when the run is over.
struct Launch {
    std::string desktopName;
    HKEY desktops = nullptr;
    HANDLE job = nullptr;
    HANDLE mapping = nullptr;
};

// The program's full Windows path; false (with a message) when there is no
// such file.
bool ResolveProgram(const std::string& path, std::string& fullPath);

// Starts the program and fills `run` (process, threads, shared machine,
// deadline). On failure the message has been reported and the result is
// the exit status; 0 on success.
int LaunchProgram(const LaunchRequest& request, VmRun& run, Launch& launch);

// Removes the desktop's registry entry.
void EndLaunch(Launch& launch);

// A whole file; false when it cannot be read.
bool ReadTextFile(const std::string& path, std::string& text);

#endif
