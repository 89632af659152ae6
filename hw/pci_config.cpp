#include "pci_config.h"

#include "port_io.h"

namespace {

// A short pause between the address write and the data access, so that
// the host bridge has latched the address: two jumps, each to the next
// instruction. No port access, no sleep.
inline void RecoveryDelay()
{
#if defined(__i386__) || defined(__x86_64__)
    __asm__ __volatile__("jmp 1f\n1:\n\tjmp 2f\n2:\n" ::: "memory");
#endif
}

}  // namespace

uint32_t PciConfigRead(uint32_t bus, uint32_t devFn, uint32_t reg)
{
    PortOut32(kPciConfigAddressPort, PciConfigAddress(bus, devFn, reg));
    RecoveryDelay();
    return PortIn32(kPciConfigDataPort);
}

void PciConfigWrite(uint32_t bus, uint32_t devFn, uint32_t reg, uint32_t value)
{
    PortOut32(kPciConfigAddressPort, PciConfigAddress(bus, devFn, reg));
    RecoveryDelay();
    PortOut32(kPciConfigDataPort, value);
}
