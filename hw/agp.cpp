#include "agp.h"

#include "pci_config.h"

namespace {

const uint32_t kDisplayControllerVga = 0x0300;
const uint32_t kHostBridge = 0x0600;

const uint16_t kChipsetFamilyVendor = 0x5A17;
const uint16_t kChipsetFamilyDevices[] = {0x3C91, 0x3C93};
const uint32_t kChipsetAgpValidRegister = 0xAC;

uint32_t CapabilityId(uint32_t header) { return header & 0xFF; }
uint32_t CapabilityNext(uint32_t header) { return (header >> 8) & 0xFF; }

// Follows a capability list of one function from `offset` until it meets
// the AGP capability. On return `offset` and `header` describe the header
// visited last. Pointers are followed exactly as read; a list that ends,
// or that is still going after kMaxCapabilityHeaders headers, has no AGP
// capability. When `nextPtr` is given it receives the pointer of each
// header left for another, and 0 when the walk gives up.
bool WalkToAgpCapability(uint32_t bus, uint32_t devFn, uint32_t& offset, uint32_t& header,
                         uint16_t* nextPtr)
{
    header = PciConfigRead(bus, devFn, offset);
    for (unsigned visited = 1; CapabilityId(header) != kAgpCapabilityId; ++visited) {
        const uint32_t next = CapabilityNext(header);
        if (next == 0 || visited >= kMaxCapabilityHeaders) {
            if (nextPtr) *nextPtr = 0;
            return false;
        }
        if (nextPtr) *nextPtr = static_cast<uint16_t>(next);
        offset = next;
        header = PciConfigRead(bus, devFn, offset);
    }
    return true;
}

bool IsAbsent(uint32_t identification)
{
    return identification == 0xFFFFFFFFu || identification == 0;
}

}  // namespace

int32_t FindAgpFunction(AgpFunctionKind kind, PciLocation& location)
{
    const bool adapter = kind == AgpKindAdapter;
    const uint32_t wantedClass = adapter ? kDisplayControllerVga : kHostBridge;

    for (uint32_t bus = 0; bus < 256; ++bus) {
        for (uint32_t device = 0; device < 32; ++device) {
            for (uint32_t function = 0; function < 8; ++function) {
                const uint32_t devFn = (device << 3) | function;
                // An absent function ends its device, whatever its number.
                if (IsAbsent(PciConfigRead(bus, devFn, kPciIdRegister))) break;
                if (!(PciConfigRead(bus, devFn, kPciStatusCommandRegister) & kPciCapabilityListBit))
                    continue;
                uint32_t offset = PciConfigRead(bus, devFn, kPciCapabilityPointerRegister) & 0xFF;
                uint32_t header = 0;
                // The capability list is checked before the class, and a
                // function without AGP ends the search in its device.
                if (!WalkToAgpCapability(bus, devFn, offset, header, nullptr)) break;
                if ((PciConfigRead(bus, devFn, kPciClassRegister) >> 16) != wantedClass) continue;
                location = 0x80000000u | (bus << 16) | (devFn << 8);
                return AGP_OK;
            }
        }
    }
    return adapter ? AGP_NO_ADAPTER : AGP_NO_CHIPSET;
}

int32_t ReadAgpCapability(AgpFunctionKind kind, AgpCapability& cap)
{
    PciLocation location = 0;
    const int32_t found =
        FindAgpFunction(kind == AgpKindAdapter ? AgpKindAdapter : AgpKindChipset, location);
    if (found & 1) return found;

    const uint32_t bus = (location >> 16) & 0xFF;
    const uint32_t devFn = (location >> 8) & 0xFF;
    cap.devFn = static_cast<uint16_t>(devFn);
    cap.bus = static_cast<uint16_t>(bus);

    // Walk the list again from the start: the scan only said where.
    uint32_t offset = PciConfigRead(bus, devFn, kPciCapabilityPointerRegister) & 0xFF;
    uint32_t header = 0;
    const bool agp = WalkToAgpCapability(bus, devFn, offset, header, &cap.nextPtr);
    cap.capOffset = offset;
    cap.capId = static_cast<uint16_t>(CapabilityId(header));
    if (!agp) return AGP_NO_CAPABILITY;

    cap.minorRev = static_cast<uint16_t>((header >> 16) & 0xF);
    cap.majorRev = static_cast<uint16_t>((header >> 20) & 0xF);
    cap.status = PciConfigRead(bus, devFn, offset + kAgpStatusOffset);
    cap.command = PciConfigRead(bus, devFn, offset + kAgpCommandOffset);
    return AGP_OK;
}

int32_t ReadAdapterCapability(AgpCapability& cap)
{
    return ReadAgpCapability(AgpKindAdapter, cap);
}

int32_t ReadChipsetCapability(AgpCapability& cap)
{
    return ReadAgpCapability(AgpKindChipset, cap);
}

bool IsAgpDisabledByChipset(const AgpCapability& chipset)
{
    const uint32_t id = PciConfigRead(chipset.bus, chipset.devFn, kPciIdRegister);
    if ((id & 0xFFFF) != kChipsetFamilyVendor) return false;
    const uint32_t device = id >> 16;
    bool familyMember = false;
    for (uint16_t member : kChipsetFamilyDevices) familyMember = familyMember || device == member;
    if (!familyMember) return false;
    return !(PciConfigRead(chipset.bus, chipset.devFn, kChipsetAgpValidRegister) & 1);
}

bool SelectAgpMode(RateRequest rate, AddressingRequest addressing, AgpCapability& chipset,
                   AgpCapability& adapter)
{
    bool rateChosen = true;
    if (rate != RATE_NONE) {
        chipset.command &= ~(kAgpRate1x | kAgpRate2x);
        adapter.command &= ~(kAgpRate1x | kAgpRate2x);
        if ((chipset.status & kAgpRate2x) && (adapter.status & kAgpRate2x) && rate == RATE_2X) {
            chipset.command |= kAgpRate2x;
            adapter.command |= kAgpRate2x;
        } else if ((adapter.status & kAgpRate1x) || rate == RATE_1X) {
            chipset.command |= kAgpRate1x;
            adapter.command |= kAgpRate1x;
        } else {
            rateChosen = false;
        }
    }

    if (addressing != ADDR_NONE) {
        if ((chipset.status & kAgpSideband) && (adapter.status & kAgpSideband) &&
            addressing == ADDR_SBA) {
            chipset.command |= kAgpSideband;
            adapter.command |= kAgpSideband;
        } else if (!(adapter.status & kAgpSideband) || addressing == ADDR_PIPE) {
            chipset.command &= ~kAgpSideband;
            adapter.command &= ~kAgpSideband;
        }
        // Otherwise the chipset lacks sideband addressing while the adapter
        // has it: both values stay as they are.
    }
    return rateChosen;
}

void WriteAgpCommands(const AgpCapability& chipset, const AgpCapability& adapter)
{
    PciConfigWrite(adapter.bus, adapter.devFn, adapter.capOffset + kAgpCommandOffset,
                   adapter.command);
    PciConfigWrite(chipset.bus, chipset.devFn, chipset.capOffset + kAgpCommandOffset,
                   chipset.command);
}

AgpStatusTexts DescribeAgpCommands(uint32_t chipsetCommand, uint32_t adapterCommand)
{
    AgpStatusTexts texts;
    texts.chipsetRate = (chipsetCommand & kAgpRate1x) ? "AGP chipset has 1x mode set."
                                                      : "AGP chipset has 2x mode set.";
    texts.chipsetSba = (chipsetCommand & kAgpSideband) ? "AGP chipset has SBA enabled."
                                                       : "AGP chipset has SBA disabled.";
    texts.adapterRate = (adapterCommand & kAgpRate1x) ? "Video adapter has 1x mode set."
                                                      : "Video adapter has 2x mode set.";
    texts.adapterSba = (adapterCommand & kAgpSideband) ? "Video adapter has SBA enabled."
                                                       : "Video adapter has SBA disabled.";
    return texts;
}

AgpStatusTexts RefreshAgpStatus(AgpCapability& chipset, AgpCapability& adapter)
{
    // A failed re-read leaves the record's values alone, so the sentences
    // then describe what was last selected and written.
    ReadChipsetCapability(chipset);
    ReadAdapterCapability(adapter);
    return DescribeAgpCommands(chipset.command, adapter.command);
}
