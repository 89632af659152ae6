// The port functions of the Windows program: the processor's 32-bit port
// instructions, executed every time. Whether the system allows them is
// learned from the instruction itself, never from the Windows version.
#include "port_fault.h"
#include "port_io.h"

// A registration record on the stack (previous record, handler) is linked
// in at fs:0 around the instruction alone, the structured handling that
// Windows 95, 98, NT and Wine all honour.
__asm__(
    "    .text\n"
    "    .globl _LumbrelPortIn32\n"
    "    .def _LumbrelPortIn32; .scl 2; .type 32; .endef\n"
    "_LumbrelPortIn32:\n"
    "    movl 4(%esp), %edx\n"
    "    pushl $_LumbrelPortFaultHandler\n"
    "    pushl %fs:0\n"
    "    movl %esp, %fs:0\n"
    "    .globl _LumbrelPortInInstruction\n"
    "_LumbrelPortInInstruction:\n"
    "    inl %dx, %eax\n"
    "    movl (%esp), %ecx\n"
    "    movl %ecx, %fs:0\n"
    "    addl $8, %esp\n"
    "    ret\n"
    "\n"
    "    .globl _LumbrelPortOut32\n"
    "    .def _LumbrelPortOut32; .scl 2; .type 32; .endef\n"
    "_LumbrelPortOut32:\n"
    "    movl 4(%esp), %edx\n"
    "    movl 8(%esp), %eax\n"
    "    pushl $_LumbrelPortFaultHandler\n"
    "    pushl %fs:0\n"
    "    movl %esp, %fs:0\n"
    "    .globl _LumbrelPortOutInstruction\n"
    "_LumbrelPortOutInstruction:\n"
    "    outl %eax, %dx\n"
    "    movl (%esp), %ecx\n"
    "    movl %ecx, %fs:0\n"
    "    addl $8, %esp\n"
    "    ret\n");

extern "C" EXCEPTION_DISPOSITION __cdecl LumbrelPortFaultHandler(EXCEPTION_RECORD* record, void*,
                                                                 CONTEXT* context, void*)
{
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    if (record->ExceptionCode != EXCEPTION_PRIV_INSTRUCTION) return ExceptionContinueSearch;

    const DWORD eip = context->Eip;
    if (eip == reinterpret_cast<DWORD>(LumbrelPortInInstruction)) {
        context->Eax = 0xFFFFFFFFu;  // what an absent device reads as
    } else if (eip != reinterpret_cast<DWORD>(LumbrelPortOutInstruction)) {
        return ExceptionContinueSearch;
    }
    context->Eip = eip + kPortInstructionLength;
    return ExceptionContinueExecution;
}

void PortOut32(uint16_t port, uint32_t value) { LumbrelPortOut32(port, value); }

uint32_t PortIn32(uint16_t port) { return LumbrelPortIn32(port); }
