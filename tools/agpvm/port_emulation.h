// Decoding of x86 port instructions and their emulation against the shared
// machine. Used by the handler inside the program and by the debugger's
// slow path alike.
#ifndef LUMBREL_AGPVM_PORT_EMULATION_H
#define LUMBREL_AGPVM_PORT_EMULATION_H

#include <cstddef>
#include <cstdint>

#include "vm_shared.h"

enum IoFlags : uint32_t {
    kIoImmediate = 1,  // port given as imm8, not in DX
    kIoString = 2,     // INS/OUTS
    kIoRep = 4,        // REP prefix on a string instruction
};

struct IoInstruction {
    bool isIn;
    uint8_t size;      // 1, 2 or 4
    uint8_t length;    // bytes, prefixes included
    uint8_t immediatePort;
    uint32_t flags;    // IoFlags
};

// Decodes the instruction in `bytes` (`count` bytes available). False when
// it is not a port instruction (CLI, HLT, a truncated buffer, ...).
bool DecodeIoInstruction(const uint8_t* bytes, size_t count, IoInstruction& io);

// CPU registers an I/O instruction reads or changes.
struct IoRegisters {
    uint32_t eax;
    uint32_t edx;
    uint32_t ecx;
    uint32_t eip;
};

// Emulates one decoded instruction: serves 32-bit accesses at 0xCF8/0xCFC
// from the machine, logs every access, and records anything else as
// illegal (reads then give all ones, writes are dropped, string
// instructions move nothing). Advances eip.
void EmulateIo(VmShared& vm, const IoInstruction& io, const uint8_t* bytes, IoRegisters& regs);

#endif
