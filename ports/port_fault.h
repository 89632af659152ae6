// The program's port instructions and the structured exception handler that
// is in place while each of them runs. Where the system denies port access
// (the Windows NT family, or Wine, without a driver) the instruction faults
// with EXCEPTION_PRIV_INSTRUCTION; the handler then lets an input read all
// ones and drops an output, and execution goes on after the instruction.
// Everything else, and every fault elsewhere, passes on untouched. A
// debugger or an in-process handler that serves the instructions sees each
// of them before this handler does.
#ifndef LUMBREL_PORTS_PORT_FAULT_H
#define LUMBREL_PORTS_PORT_FAULT_H

#include <windows.h>

#include <cstdint>

extern "C" {

// `in eax, dx` and `out dx, eax`, each run inside a handler frame.
uint32_t __cdecl LumbrelPortIn32(uint32_t port);
void __cdecl LumbrelPortOut32(uint32_t port, uint32_t value);

// The addresses of the two one-byte instructions.
extern const unsigned char LumbrelPortInInstruction[];
extern const unsigned char LumbrelPortOutInstruction[];

// The handler of the frame, an fs:0 registration record's handler.
EXCEPTION_DISPOSITION __cdecl LumbrelPortFaultHandler(EXCEPTION_RECORD* record, void* frame,
                                                      CONTEXT* context, void* dispatcher);
}

// The length of both port instructions (opcodes 0xED and 0xEF).
const DWORD kPortInstructionLength = 1;

#endif
