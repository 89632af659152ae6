#include "pci_machine.h"

#include <cstring>

namespace {

const uint16_t kAddressPort = 0xCF8;
const uint16_t kDataPort = 0xCFC;

unsigned SlotKey(uint32_t bus, uint32_t devFn)
{
    return ((bus & 0xFF) << 8) | (devFn & 0xFF);
}

}  // namespace

bool BuildPciMachine(const std::vector<PciDumpFunction>& functions, PciMachine& machine,
                     std::string& error)
{
    if (functions.size() > kMaxMachineFunctions) {
        error = "the machine has " + std::to_string(functions.size()) +
                " functions; at most " + std::to_string(kMaxMachineFunctions) + " are supported";
        return false;
    }
    std::memset(&machine, 0, sizeof machine);
    for (const PciDumpFunction& f : functions) {
        std::memcpy(machine.config[machine.functionCount], f.config, 256);
        machine.slotOf[SlotKey(f.bus, f.devFn)] = static_cast<uint16_t>(++machine.functionCount);
    }
    return true;
}

bool PciMachineHasFunction(const PciMachine& machine, uint32_t bus, uint32_t devFn)
{
    return machine.slotOf[SlotKey(bus, devFn)] != 0;
}

uint32_t PciMachineReadConfig(const PciMachine& machine, uint32_t bus, uint32_t devFn,
                              uint32_t reg)
{
    const unsigned slot = machine.slotOf[SlotKey(bus, devFn)];
    if (slot == 0) return 0xFFFFFFFFu;
    const uint8_t* bytes = machine.config[slot - 1] + (reg & 0xFC);
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

void PciMachineWriteConfig(PciMachine& machine, uint32_t bus, uint32_t devFn, uint32_t reg,
                           uint32_t value)
{
    const unsigned slot = machine.slotOf[SlotKey(bus, devFn)];
    if (slot == 0) return;
    uint8_t* bytes = machine.config[slot - 1] + (reg & 0xFC);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool DecodeConfigAddress(uint32_t address, uint32_t& bus, uint32_t& devFn, uint32_t& reg)
{
    bus = (address >> 16) & 0xFF;
    devFn = (address >> 8) & 0xFF;
    reg = address & 0xFC;
    return (address & 0x80000000u) != 0;
}

uint32_t PciMachinePortIn32(PciMachine& machine, uint16_t port)
{
    if (port == kAddressPort) return machine.addressLatch;
    if (port != kDataPort) return 0xFFFFFFFFu;
    uint32_t bus, devFn, reg;
    if (!DecodeConfigAddress(machine.addressLatch, bus, devFn, reg)) return 0xFFFFFFFFu;
    return PciMachineReadConfig(machine, bus, devFn, reg);
}

void PciMachinePortOut32(PciMachine& machine, uint16_t port, uint32_t value)
{
    if (port == kAddressPort) {
        machine.addressLatch = value;
        return;
    }
    if (port != kDataPort) return;
    uint32_t bus, devFn, reg;
    if (DecodeConfigAddress(machine.addressLatch, bus, devFn, reg))
        PciMachineWriteConfig(machine, bus, devFn, reg, value);
}
