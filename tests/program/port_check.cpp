// Checks the program's port provider under Wine, which denies port
// instructions to programs: reads give all ones, writes are dropped, and
// nothing crashes. With an in-process handler that serves the instructions
// (as a test bench injects one), every access reaches that handler in
// order. The fault handler itself is checked with made-up exceptions.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "agp.h"
#include "check.h"
#include "pci_config.h"
#include "port_fault.h"
#include "port_io.h"

namespace {

Checks checks;

struct Access {
    bool write;
    uint32_t port;
    uint32_t value;
};
std::vector<Access> g_accesses;
uint32_t g_address = 0;

// What the emulated data port reads for a configuration address: an empty
// bus (register 0x00 all ones), other registers a value made from the address.
uint32_t EmulatedData(uint32_t address)
{
    return (address & 0xFC) == 0 ? 0xFFFFFFFFu : address ^ 0x5A5A0000u;
}

// Serves `in eax, dx` and `out dx, eax` wherever they fault: one access
// per fault, logged.
LONG CALLBACK EmulatePorts(EXCEPTION_POINTERS* info)
{
    if (info->ExceptionRecord->ExceptionCode != EXCEPTION_PRIV_INSTRUCTION)
        return EXCEPTION_CONTINUE_SEARCH;
    CONTEXT* context = info->ContextRecord;
    const uint8_t opcode = *reinterpret_cast<const uint8_t*>(context->Eip);
    const uint32_t port = context->Edx & 0xFFFF;
    if (opcode == 0xED) {
        context->Eax = port == kPciConfigDataPort ? EmulatedData(g_address) : g_address;
        g_accesses.push_back({false, port, context->Eax});
    } else if (opcode == 0xEF) {
        g_accesses.push_back({true, port, context->Eax});
        if (port == kPciConfigAddressPort) g_address = context->Eax;
    } else {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    context->Eip += 1;
    return EXCEPTION_CONTINUE_EXECUTION;
}

// The head of this thread's chain of handler frames (fs:0).
void* ExceptionChain()
{
    void* head;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head));
    return head;
}

void CheckDeniedAccess()
{
    void* chain = ExceptionChain();
    checks.Equal<uint32_t>(0xFFFFFFFF, PortIn32(kPciConfigDataPort), "denied read gives all ones");
    checks.Equal<uint32_t>(0xFFFFFFFF, PortIn32(kPciConfigAddressPort), "denied read of 0xCF8");
    PortOut32(kPciConfigAddressPort, 0x80000000u);
    checks.Check(true, "denied write returns");
    checks.Equal<uint32_t>(0xFFFFFFFF, PciConfigRead(0, 0, 0), "configuration read of an empty bus");
    checks.Check(ExceptionChain() == chain, "handler frames removed after each instruction");

    PciLocation location = 0x1234;
    checks.Equal(AGP_NO_CHIPSET, FindAgpFunction(AgpKindChipset, location), "no chipset found");
    checks.Equal<uint32_t>(0x1234, location, "location not written");
    AgpCapability cap = {};
    checks.Equal(AGP_NO_CHIPSET, ReadChipsetCapability(cap), "chipset read fails as on an empty bus");
    checks.Check(ExceptionChain() == chain, "exception chain unchanged after a whole scan");
}

void CheckServedAccess()
{
    PVOID handler = AddVectoredExceptionHandler(1, EmulatePorts);
    if (!checks.Check(handler != NULL, "vectored handler installed")) return;

    g_accesses.clear();
    const uint32_t value = PciConfigRead(1, 0, 0x44);
    checks.Equal(EmulatedData(0x80010044u), value, "read returns the served value");
    if (checks.Equal<size_t>(2, g_accesses.size(), "a read is two accesses")) {
        checks.Check(g_accesses[0].write && g_accesses[0].port == 0xCF8 &&
                         g_accesses[0].value == 0x80010044u,
                     "read: address written to 0xCF8 first");
        checks.Check(!g_accesses[1].write && g_accesses[1].port == 0xCFC, "read: then 0xCFC read");
    }

    g_accesses.clear();
    PciConfigWrite(2, 0x08, 0x10E, 0xDEADBEEFu);
    if (checks.Equal<size_t>(2, g_accesses.size(), "a write is two accesses")) {
        checks.Check(g_accesses[0].write && g_accesses[0].port == 0xCF8 &&
                         g_accesses[0].value == 0x8002080Cu,
                     "write: address written to 0xCF8 first");
        checks.Check(g_accesses[1].write && g_accesses[1].port == 0xCFC &&
                         g_accesses[1].value == 0xDEADBEEFu,
                     "write: then the value to 0xCFC");
    }

    g_accesses.clear();
    PciLocation location = 0;
    FindAgpFunction(AgpKindAdapter, location);
    size_t writes = 0;
    for (const Access& a : g_accesses) writes += a.write;
    // 256 buses of 32 absent devices: one address write and one data read each.
    checks.Equal<size_t>(2 * 256 * 32, g_accesses.size(), "a whole scan: every access served");
    checks.Equal<size_t>(256 * 32, writes, "a whole scan: one address write per read");

    RemoveVectoredExceptionHandler(handler);
    checks.Equal<uint32_t>(0xFFFFFFFF, PortIn32(kPciConfigDataPort), "denied again once the handler is gone");
}

struct FaultCase {
    const char* what;
    DWORD code;
    DWORD flags;
    DWORD eip;
    EXCEPTION_DISPOSITION disposition;
    DWORD eipAfter;
    DWORD eaxAfter;
};

void CheckHandler()
{
    checks.Equal<int>(0xED, LumbrelPortInInstruction[0], "input instruction is in eax, dx");
    checks.Equal<int>(0xEF, LumbrelPortOutInstruction[0], "output instruction is out dx, eax");

    const DWORD in = reinterpret_cast<DWORD>(LumbrelPortInInstruction);
    const DWORD out = reinterpret_cast<DWORD>(LumbrelPortOutInstruction);
    const DWORD eax = 0x11223344;
    const FaultCase cases[] = {
        {"denied input", EXCEPTION_PRIV_INSTRUCTION, 0, in, ExceptionContinueExecution, in + 1, 0xFFFFFFFF},
        {"denied output", EXCEPTION_PRIV_INSTRUCTION, 0, out, ExceptionContinueExecution, out + 1, eax},
        {"privileged instruction elsewhere", EXCEPTION_PRIV_INSTRUCTION, 0, in + 1,
         ExceptionContinueSearch, in + 1, eax},
        {"privileged instruction before the output", EXCEPTION_PRIV_INSTRUCTION, 0, out - 1,
         ExceptionContinueSearch, out - 1, eax},
        {"access violation at the input", EXCEPTION_ACCESS_VIOLATION, 0, in, ExceptionContinueSearch,
         in, eax},
        {"breakpoint at the output", EXCEPTION_BREAKPOINT, 0, out, ExceptionContinueSearch, out, eax},
        {"unwinding through the frame", EXCEPTION_PRIV_INSTRUCTION, EXCEPTION_UNWINDING, in,
         ExceptionContinueSearch, in, eax},
        {"exit unwind through the frame", EXCEPTION_PRIV_INSTRUCTION, EXCEPTION_EXIT_UNWIND, out,
         ExceptionContinueSearch, out, eax},
    };
    for (const FaultCase& c : cases) {
        EXCEPTION_RECORD record = {};
        record.ExceptionCode = c.code;
        record.ExceptionFlags = c.flags;
        record.ExceptionAddress = reinterpret_cast<void*>(c.eip);
        CONTEXT context = {};
        context.Eip = c.eip;
        context.Eax = eax;
        context.Edx = 0xCFC;
        const EXCEPTION_DISPOSITION d = LumbrelPortFaultHandler(&record, NULL, &context, NULL);
        const std::string what = c.what;
        checks.Equal<int>(c.disposition, d, what + ": disposition");
        checks.Equal(c.eipAfter, context.Eip, what + ": EIP");
        checks.Equal(c.eaxAfter, context.Eax, what + ": EAX");
        checks.Equal<DWORD>(0xCFC, context.Edx, what + ": EDX untouched");
    }
}

}  // namespace

int main()
{
    CheckHandler();
    CheckDeniedAccess();
    CheckServedAccess();
    return checks.Finish();
}
