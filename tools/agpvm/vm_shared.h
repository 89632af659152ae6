// Memory shared between agpvm and the handler it injects into the program:
// the machine, the access log and what the handler reports back. One
// named file mapping per run, named after the program's process ID.
// Fixed-size plain data only: both sides map it at different addresses.
#ifndef LUMBREL_AGPVM_VM_SHARED_H
#define LUMBREL_AGPVM_VM_SHARED_H

#include <cstdint>
#include <cstdio>
#include <type_traits>

#include "pci_machine.h"

const uint32_t kVmSharedMagic = 0x4D565041;  // "APVM"
const uint32_t kVmSharedVersion = 7;

const unsigned kVmMaxConfigWrites = 65536;
const unsigned kVmMaxIllegal = 32;
const unsigned kVmMaxExceptions = 32;
const unsigned kVmMaxMenuItems = 64;
const unsigned kVmMaxMenuText = 80;
const unsigned kVmLogCapacity = 4u << 20;  // accesses kept in order; counting goes on past it

enum VmAccessOp : uint8_t { kVmIn = 0, kVmOut = 1 };

// One port instruction as executed.
struct VmAccess {
    uint16_t port;
    uint8_t op;     // VmAccessOp
    uint8_t size;   // 1, 2 or 4 bytes
    uint32_t value; // value read (as emulated) or written
};

// One write to the data port 0xCFC.
struct VmConfigWrite {
    uint32_t address;   // the latch at the time; enable bit clear means no cycle
    uint32_t oldValue;  // register contents before (all ones for an absent function)
    uint32_t newValue;  // value written
    uint32_t present;   // 1 when the latch addressed an existing function
    uint32_t accessIndex;
    uint32_t readsBefore;  // configuration reads before it: writes with no read between belong together
};

// An access other than 32 bits at 0xCF8/0xCFC, or a string I/O instruction.
struct VmIllegal {
    uint32_t eip;
    uint8_t bytes[8];   // instruction bytes at eip
    uint16_t port;
    uint8_t op;
    uint8_t size;
    uint32_t value;
    uint32_t flags;     // kIoString, kIoImmediate, ...
};

struct VmException {
    uint32_t code;
    uint32_t eip;
};

struct VmMenuItem {
    uint32_t type;      // MFT_* as reported
    uint32_t id;
    char text[kVmMaxMenuText];
};

struct VmShared {
    uint32_t magic;
    uint32_t version;
    uint32_t sizeBytes;
    int32_t lock;            // spin lock around one emulated access
    int32_t handlerReady;    // the in-process handler is installed
    uint32_t queryProc;      // address of the handler DLL's menu reader in the program
    uint32_t fastAccesses;   // emulated in the program's process
    uint32_t slowAccesses;   // emulated by the debugger
    uint32_t firstAccessTick, lastAccessTick;  // GetTickCount around the emulated accesses

    // Counters of every port instruction seen, legal or not.
    uint32_t accessCount;
    uint32_t inCount, outCount;
    uint32_t configReads;    // 32-bit reads of 0xCFC
    uint32_t configWrites;   // 32-bit writes of 0xCFC
    uint32_t addressWrites;  // 32-bit writes of 0xCF8
    uint32_t addressReads;   // 32-bit reads of 0xCF8

    uint32_t illegalCount;
    VmIllegal illegal[kVmMaxIllegal];
    int32_t crashed;          // an exception reached the top-level filter
    uint32_t crashCode, crashEip;
    uint32_t exceptionCount;  // exceptions the handler saw and passed on
    VmException exceptions[kVmMaxExceptions];

    // System-menu read-out, filled by the handler DLL on request.
    uint32_t menuHwnd;
    int32_t menuCount;        // -1: no system menu
    VmMenuItem menu[kVmMaxMenuItems];

    VmConfigWrite writes[kVmMaxConfigWrites];  // the first configWrites of them

    PciMachine machine;
    VmAccess log[kVmLogCapacity];
};
static_assert(std::is_trivially_copyable<VmShared>::value, "VmShared is raw shared memory");

inline void VmMappingName(uint32_t pid, char* name, size_t size)
{
    std::snprintf(name, size, "agpvm.machine.%lu", static_cast<unsigned long>(pid));
}

#endif
