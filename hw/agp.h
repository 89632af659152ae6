// AGP discovery, capability records, mode selection and status texts.
// Stateless: every record belongs to the caller, and every read starts a
// new scan of the whole bus.
#ifndef LUMBREL_HW_AGP_H
#define LUMBREL_HW_AGP_H

#include <cstdint>

// Which party of the AGP link to look for. Any value other than
// AgpKindAdapter is treated as AgpKindChipset.
enum AgpFunctionKind : uint32_t { AgpKindAdapter = 1, AgpKindChipset = 2 };

// Result codes: 0 is success, every failure is odd.
const int32_t AGP_OK = 0;
const int32_t AGP_NO_CAPABILITY = 1;
const int32_t AGP_NO_ADAPTER = 3;
const int32_t AGP_NO_CHIPSET = 5;

// Bit 31 set, bus in bits 23-16, device/function byte in bits 15-8:
// the configuration address of the function's register 0x00.
typedef uint32_t PciLocation;

struct AgpCapability {
    uint32_t capOffset;  // offset of the header visited last; the AGP capability after success
    uint16_t bus;
    uint16_t devFn;
    uint16_t capId;      // ID of the header visited last; 2 after success
    uint16_t nextPtr;    // next pointer of the last header the walk left; 0 when the list ended
    uint16_t majorRev;
    uint16_t minorRev;
    uint32_t status;     // AGP status register
    uint32_t command;    // AGP command register
};

// Register offsets and bits of the PCI header and the AGP capability.
const uint32_t kPciIdRegister = 0x00;
const uint32_t kPciStatusCommandRegister = 0x04;
const uint32_t kPciClassRegister = 0x08;
const uint32_t kPciCapabilityPointerRegister = 0x34;
const uint32_t kPciCapabilityListBit = 0x00100000;
const uint32_t kAgpCapabilityId = 2;
const uint32_t kAgpStatusOffset = 4;
const uint32_t kAgpCommandOffset = 8;
const uint32_t kAgpRate1x = 0x1;
const uint32_t kAgpRate2x = 0x2;
const uint32_t kAgpSideband = 0x200;

// A capability walk reads at most this many headers: a function's 256-byte
// space holds 64 dwords, so a longer walk can only be going round a cycle.
const unsigned kMaxCapabilityHeaders = 64;

int32_t FindAgpFunction(AgpFunctionKind kind, PciLocation& location);
int32_t ReadAgpCapability(AgpFunctionKind kind, AgpCapability& cap);
int32_t ReadAdapterCapability(AgpCapability& cap);
int32_t ReadChipsetCapability(AgpCapability& cap);

// True for the vendor-0x5A17 host bridges 0x3C91 and 0x3C93 whose register
// 0xAC has bit 0 clear: on those AGP is not usable.
bool IsAgpDisabledByChipset(const AgpCapability& chipset);

enum RateRequest : uint16_t { RATE_NONE = 0, RATE_1X = 1, RATE_2X = 2 };
enum AddressingRequest : uint16_t { ADDR_NONE = 0, ADDR_SBA = 1, ADDR_PIPE = 2 };

struct AgpStatusTexts {
    const char* chipsetRate;
    const char* chipsetSba;
    const char* adapterRate;
    const char* adapterSba;
};

// Changes only the two command values, in memory. False when a rate was
// requested and no common rate could be chosen.
bool SelectAgpMode(RateRequest rate, AddressingRequest addressing, AgpCapability& chipset,
                   AgpCapability& adapter);

// Writes the adapter's AGP command register, then the chipset's.
void WriteAgpCommands(const AgpCapability& chipset, const AgpCapability& adapter);

// Re-reads the chipset and then the adapter (results not examined) and
// describes the command values the records then hold.
AgpStatusTexts RefreshAgpStatus(AgpCapability& chipset, AgpCapability& adapter);

// The four sentences for two command values.
AgpStatusTexts DescribeAgpCommands(uint32_t chipsetCommand, uint32_t adapterCommand);

#endif
