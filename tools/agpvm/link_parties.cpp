// The hardware core's discovery against a copy of the machine, through port
// functions of agpvm's own that serve that copy.
#include "link_parties.h"

#include <windows.h>

#include <memory>

#include "hw/port_io.h"

namespace {

// The machine the port functions serve while a discovery runs; the lock
// keeps the scenario thread and the main thread apart.
PciMachine* g_served = nullptr;

struct DiscoveryLock {
    DiscoveryLock() { InitializeCriticalSection(&section); }
    CRITICAL_SECTION section;
};
CRITICAL_SECTION* Lock()
{
    static DiscoveryLock lock;
    return &lock.section;
}

}  // namespace

void PortOut32(uint16_t port, uint32_t value)
{
    if (g_served) PciMachinePortOut32(*g_served, port, value);
}

uint32_t PortIn32(uint16_t port) { return g_served ? PciMachinePortIn32(*g_served, port) : ~0u; }

LinkParties FindLinkParties(const PciMachine& machine)
{
    std::unique_ptr<PciMachine> copy(new PciMachine(machine));
    LinkParties parties;
    EnterCriticalSection(Lock());
    g_served = copy.get();
    parties.chipsetFound = ReadChipsetCapability(parties.chipset) == AGP_OK;
    if (parties.chipsetFound) parties.adapterFound = ReadAdapterCapability(parties.adapter) == AGP_OK;
    g_served = nullptr;
    LeaveCriticalSection(Lock());
    return parties;
}
