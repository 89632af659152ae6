#include "sim_bus.h"

#include <cstdio>
#include <cstdlib>

#include "port_io.h"

std::ostream& operator<<(std::ostream& out, const PortAccess& access)
{
    char text[48];
    std::snprintf(text, sizeof text, "%s %03X %08X", access.write ? "out" : "in", access.port,
                  access.value);
    return out << text;
}

std::ostream& operator<<(std::ostream& out, const ConfigWrite& write)
{
    char text[48];
    std::snprintf(text, sizeof text, "[%08X] <- %08X", write.address, write.value);
    return out << text;
}

SimBus& SimBus::Instance()
{
    static SimBus bus;
    return bus;
}

SimBus::SimBus() : machine_(new PciMachine) { Empty(); }

void SimBus::LoadFunctions(const std::vector<PciDumpFunction>& functions)
{
    std::string error;
    if (!BuildPciMachine(functions, *machine_, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::abort();
    }
    accesses_.clear();
    onAccess = nullptr;
}

void SimBus::LoadFile(const std::string& path)
{
    std::vector<PciDumpFunction> functions;
    std::string error;
    if (!LoadPciDumpFile(path, functions, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::abort();
    }
    LoadFunctions(functions);
}

void SimBus::LoadText(const std::string& text)
{
    std::vector<PciDumpFunction> functions;
    std::string error;
    if (!ParsePciDump(text, "<text>", functions, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::abort();
    }
    LoadFunctions(functions);
}

void SimBus::Empty() { LoadFunctions({}); }

uint32_t SimBus::Config(uint32_t bus, uint32_t devFn, uint32_t reg) const
{
    return PciMachineReadConfig(*machine_, bus, devFn, reg);
}

void SimBus::SetConfig(uint32_t bus, uint32_t devFn, uint32_t reg, uint32_t value)
{
    PciMachineWriteConfig(*machine_, bus, devFn, reg, value);
}

size_t SimBus::CountConfigReads() const
{
    size_t count = 0;
    for (const PortAccess& a : accesses_) count += !a.write && a.port == 0xCFC;
    return count;
}

namespace {

// Calls visit(access, latch) for each data-port access, with the address
// the latch held at the time.
template <typename Visit>
void ForEachDataAccess(const std::vector<PortAccess>& accesses, Visit visit)
{
    uint32_t latch = 0;
    for (const PortAccess& a : accesses) {
        if (a.write && a.port == 0xCF8) latch = a.value;
        if (a.port == 0xCFC) visit(a, latch);
    }
}

}  // namespace

std::vector<ConfigWrite> ConfigWritesOf(const std::vector<PortAccess>& accesses)
{
    std::vector<ConfigWrite> writes;
    ForEachDataAccess(accesses, [&](const PortAccess& a, uint32_t latch) {
        if (a.write) writes.push_back({latch, a.value});
    });
    return writes;
}

std::vector<uint32_t> ConfigReadAddressesOf(const std::vector<PortAccess>& accesses)
{
    std::vector<uint32_t> addresses;
    ForEachDataAccess(accesses, [&](const PortAccess& a, uint32_t latch) {
        if (!a.write) addresses.push_back(latch);
    });
    return addresses;
}

uint32_t SimBus::In32(uint16_t port)
{
    const uint32_t value = PciMachinePortIn32(*machine_, port);
    const PortAccess access = {false, port, value};
    accesses_.push_back(access);
    // A copy: the callback may make accesses of its own, which can move the log.
    if (onAccess) onAccess(access);
    return value;
}

void SimBus::Out32(uint16_t port, uint32_t value)
{
    PciMachinePortOut32(*machine_, port, value);
    const PortAccess access = {true, port, value};
    accesses_.push_back(access);
    if (onAccess) onAccess(access);
}

void PortOut32(uint16_t port, uint32_t value) { SimBus::Instance().Out32(port, value); }
uint32_t PortIn32(uint16_t port) { return SimBus::Instance().In32(port); }
