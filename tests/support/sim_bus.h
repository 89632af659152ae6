// The simulated PCI bus that tests link in place of the real port
// functions. It serves a PciMachine through mechanism #1 and records every
// port access in order.
#ifndef LUMBREL_TESTS_SIM_BUS_H
#define LUMBREL_TESTS_SIM_BUS_H

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "pci_machine.h"

struct PortAccess {
    bool write;
    uint16_t port;
    uint32_t value;
    bool operator==(const PortAccess& other) const
    {
        return write == other.write && port == other.port && value == other.value;
    }
};
std::ostream& operator<<(std::ostream& out, const PortAccess& access);

class SimBus {
public:
    static SimBus& Instance();

    // Replace the machine; the access log is cleared too.
    void LoadFile(const std::string& path);          // aborts the test on a bad file
    void LoadText(const std::string& text);
    void LoadFunctions(const std::vector<PciDumpFunction>& functions);
    void Empty();

    PciMachine& Machine() { return *machine_; }
    uint32_t Config(uint32_t bus, uint32_t devFn, uint32_t reg) const;
    void SetConfig(uint32_t bus, uint32_t devFn, uint32_t reg, uint32_t value);

    const std::vector<PortAccess>& Accesses() const { return accesses_; }
    void ClearAccesses() { accesses_.clear(); }
    size_t CountConfigReads() const;                // inputs from 0xCFC

    // Called after every access, e.g. to change the machine mid-scan.
    std::function<void(const PortAccess&)> onAccess;

    // Used by the port functions.
    uint32_t In32(uint16_t port);
    void Out32(uint16_t port, uint32_t value);

private:
    SimBus();
    std::unique_ptr<PciMachine> machine_;
    std::vector<PortAccess> accesses_;
};

// A configuration write as the bus saw it: the address latch and the value.
struct ConfigWrite {
    uint32_t address;
    uint32_t value;
    bool operator==(const ConfigWrite& o) const { return address == o.address && value == o.value; }
};
std::ostream& operator<<(std::ostream& out, const ConfigWrite& write);
std::vector<ConfigWrite> ConfigWritesOf(const std::vector<PortAccess>& accesses);
// The configuration address under which each data-port read happened, in order.
std::vector<uint32_t> ConfigReadAddressesOf(const std::vector<PortAccess>& accesses);

#endif
