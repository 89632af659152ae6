// Small helpers shared by the hardware-core tests: building functions of a
// simulated machine register by register, and reading the access log.
#ifndef LUMBREL_TESTS_HW_TEST_UTIL_H
#define LUMBREL_TESTS_HW_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "agp.h"
#include "pci_config.h"
#include "pci_dump.h"
#include "sim_bus.h"

inline uint32_t DevFn(uint32_t device, uint32_t function) { return device << 3 | function; }

inline std::string MachinePath(const std::string& name)
{
    return std::string(LUMBREL_MACHINES_DIR) + "/" + name;
}

// One function of a test machine, built register by register.
class Fn {
public:
    Fn(uint32_t bus, uint32_t device, uint32_t function, uint32_t id = 0x12345678)
    {
        f_.bus = static_cast<uint8_t>(bus);
        f_.devFn = static_cast<uint8_t>(DevFn(device, function));
        Set(0x00, id);
    }
    // Writes a dword at a byte offset (wrapping inside the 256 bytes).
    Fn& Set(uint32_t offset, uint32_t value)
    {
        for (uint32_t i = 0; i < 4; ++i)
            f_.config[(offset + i) & 0xFF] = static_cast<uint8_t>(value >> (8 * i));
        return *this;
    }
    uint32_t Get(uint32_t offset) const
    {
        uint32_t value = 0;
        for (uint32_t i = 0; i < 4; ++i) value |= uint32_t(f_.config[(offset + i) & 0xFF]) << (8 * i);
        return value;
    }
    // Class code in bits 31-16 of register 0x08; progIF and revision below.
    Fn& Class(uint32_t classCode, uint32_t progIfRevision = 0)
    {
        return Set(0x08, classCode << 16 | progIfRevision);
    }
    // Capabilities-list bit set and register 0x34 pointing at `pointer`.
    Fn& CapList(uint32_t pointer)
    {
        Set(0x04, Get(0x04) | kPciCapabilityListBit);
        return Set(0x34, pointer);
    }
    Fn& NoCapList()
    {
        return Set(0x04, Get(0x04) & ~kPciCapabilityListBit);
    }
    // A capability header: ID, next pointer, and the byte above them.
    Fn& Cap(uint32_t offset, uint32_t id, uint32_t next, uint32_t upper = 0)
    {
        return Set(offset, id | next << 8 | upper << 16);
    }
    // An AGP capability: header (revision byte major << 4 | minor), status, command.
    Fn& Agp(uint32_t offset, uint32_t next, uint32_t status, uint32_t command,
            uint32_t revision = 0x20)
    {
        Cap(offset, kAgpCapabilityId, next, revision);
        Set(offset + 4, status);
        return Set(offset + 8, command);
    }
    operator PciDumpFunction() const { return f_; }

private:
    PciDumpFunction f_;
};

// The usual shapes: an AGP adapter or host bridge with a single AGP
// capability at 0x40.
inline Fn AgpAdapter(uint32_t bus, uint32_t device, uint32_t function,
                     uint32_t status = 0x1F000203, uint32_t command = 0x00000101)
{
    return Fn(bus, device, function, 0x002810DE).Class(0x0300).CapList(0x40).Agp(0x40, 0, status,
                                                                               command);
}
inline Fn AgpChipset(uint32_t bus, uint32_t device, uint32_t function,
                     uint32_t status = 0x1F000203, uint32_t command = 0x00000101)
{
    return Fn(bus, device, function, 0x71908086).Class(0x0600).CapList(0x40).Agp(0x40, 0, status,
                                                                               command);
}
// A present function with no capability list.
inline Fn Plain(uint32_t bus, uint32_t device, uint32_t function, uint32_t classCode = 0x0780)
{
    return Fn(bus, device, function).Class(classCode);
}

inline SimBus& Bus() { return SimBus::Instance(); }

inline void Load(const std::vector<PciDumpFunction>& functions)
{
    Bus().LoadFunctions(functions);
}

// The configuration address under which each data-port read happened, in order.
inline std::vector<uint32_t> ReadAddresses() { return ConfigReadAddressesOf(Bus().Accesses()); }

inline std::vector<ConfigWrite> ConfigWrites() { return ConfigWritesOf(Bus().Accesses()); }

inline size_t CountReadsOf(uint32_t bus, uint32_t devFn)
{
    size_t count = 0;
    for (uint32_t address : ReadAddresses())
        count += (address & 0x00FFFF00u) == (PciConfigAddress(bus, devFn, 0) & 0x00FFFF00u);
    return count;
}

// A record filled with a byte pattern, to show which fields a call writes.
inline AgpCapability Filled(uint8_t pattern = 0xA5)
{
    AgpCapability cap;
    std::memset(&cap, pattern, sizeof cap);
    return cap;
}

inline bool SameBytes(const AgpCapability& a, const AgpCapability& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Every test starts from an empty machine with a clear log.
class HwTest : public ::testing::Test {
protected:
    void SetUp() override { Bus().Empty(); }
    void TearDown() override { Bus().Empty(); }
};

#endif
