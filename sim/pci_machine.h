// A simulated PCI machine behind configuration mechanism #1: the
// configuration spaces of its functions and the 0xCF8 address latch.
// Plain data of fixed size, so that a copy can live in memory shared
// between processes.
#ifndef LUMBREL_SIM_PCI_MACHINE_H
#define LUMBREL_SIM_PCI_MACHINE_H

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "pci_dump.h"

const unsigned kMaxMachineFunctions = 512;

struct PciMachine {
    uint32_t addressLatch;                          // last value written to 0xCF8
    uint32_t functionCount;
    uint16_t slotOf[256 * 256];                     // bus << 8 | devFn -> index + 1; 0 when absent
    uint8_t config[kMaxMachineFunctions][256];
};
static_assert(std::is_trivially_copyable<PciMachine>::value, "PciMachine is shared as raw memory");

// Fills `machine` from parsed functions, latch cleared. False (with a
// message) when there are more functions than the machine holds.
bool BuildPciMachine(const std::vector<PciDumpFunction>& functions, PciMachine& machine,
                     std::string& error);

bool PciMachineHasFunction(const PciMachine& machine, uint32_t bus, uint32_t devFn);

// One dword of one function, reg taken as bits 7-2. Absent functions read
// as all ones and ignore writes.
uint32_t PciMachineReadConfig(const PciMachine& machine, uint32_t bus, uint32_t devFn,
                              uint32_t reg);
void PciMachineWriteConfig(PciMachine& machine, uint32_t bus, uint32_t devFn, uint32_t reg,
                           uint32_t value);

// Mechanism #1 as a host bridge decodes it: 0xCF8 holds the address latch
// (enable bit 31, bus 23-16, device/function 15-8, register 7-2); 0xCFC
// reaches the latched dword while the enable bit is set and reads all ones
// otherwise. Any other port reads all ones and ignores writes.
uint32_t PciMachinePortIn32(PciMachine& machine, uint16_t port);
void PciMachinePortOut32(PciMachine& machine, uint16_t port, uint32_t value);

// Decodes a latch value; false when its enable bit is clear.
bool DecodeConfigAddress(uint32_t address, uint32_t& bus, uint32_t& devFn, uint32_t& reg);

#endif
