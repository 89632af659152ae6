// libFuzzer target: a random machine behind mechanism #1, driven the way
// the configuration dialog drives the hardware core (chipset read, adapter
// read, chipset check, refresh, then one or two rounds of select, write and
// refresh). Aborts when the core
// - touches a port other than 0xCF8/0xCFC, reads 0xCF8, or writes an
//   address other than enable bit + bus + devFn + aligned register;
// - writes configuration space outside WriteAgpCommands, or there writes
//   anything but the adapter's and then the chipset's command register,
//   or a value that differs from the one last read there in bits other
//   than 0, 1 and 9;
// - reads more than a bounded walk can need (a cycle followed forever);
// - fills a record with values that are not the machine's, or changes a
//   record it could not read;
// - selects against the rate and addressing rules, or describes a
//   command value with the wrong sentence.
// Hangs and memory faults are left to libFuzzer's -timeout and the
// sanitizers.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "agp.h"
#include "fuzz_input.h"
#include "pci_config.h"
#include "pci_machine.h"
#include "port_io.h"

namespace {

[[noreturn]] void Fail(const char* what, uint32_t a = 0, uint32_t b = 0)
{
    std::fprintf(stderr, "fuzz_agp: %s (0x%08X 0x%08X)\n", what, a, b);
    std::abort();
}

void Check(bool ok, const char* what, uint32_t a = 0, uint32_t b = 0)
{
    if (!ok) Fail(what, a, b);
}

enum class Phase { Reading, Selecting, Writing };

const uint32_t kChangeableBits = kAgpRate1x | kAgpRate2x | kAgpSideband;

// The machine and what the port functions have seen of it.
struct Harness {
    PciMachine machine;
    Phase phase = Phase::Reading;
    unsigned readsLeft = 0;
    // Last value read from each dword of each present function, valid
    // where its stamp is the current one.
    uint32_t lastRead[(kMaxMachineFunctions + 1) * 64] = {};
    uint32_t lastReadStamp[(kMaxMachineFunctions + 1) * 64] = {};
    uint32_t stamp = 0;
    unsigned writeCount = 0;
    uint32_t writeAddress[2];
    uint32_t writeValue[2];
};

Harness* harness;

unsigned SlotIndex(uint32_t address)
{
    uint32_t bus, devFn, reg;
    DecodeConfigAddress(address, bus, devFn, reg);
    const unsigned slot = harness->machine.slotOf[bus << 8 | devFn];
    return slot == 0 ? 0 : slot * 64 + reg / 4;
}

uint32_t Config(uint32_t bus, uint32_t devFn, uint32_t reg)
{
    return PciMachineReadConfig(harness->machine, bus, devFn, reg);
}

}  // namespace

void PortOut32(uint16_t port, uint32_t value)
{
    Harness& h = *harness;
    Check(h.phase != Phase::Selecting, "port written during selection", port, value);
    if (port == kPciConfigAddressPort) {
        Check((value & 0x80000000u) && !(value & 0x7F000003u), "malformed configuration address",
              value);
    } else {
        Check(port == kPciConfigDataPort, "write to a port other than 0xCF8/0xCFC", port, value);
        Check(h.phase == Phase::Writing, "configuration write outside the command write",
              h.machine.addressLatch, value);
        Check(h.writeCount < 2, "more than two configuration writes", h.machine.addressLatch,
              value);
        const unsigned index = SlotIndex(h.machine.addressLatch);
        Check(index != 0 && h.lastReadStamp[index] == h.stamp, "write to a register never read",
              h.machine.addressLatch, value);
        Check(((value ^ h.lastRead[index]) & ~kChangeableBits) == 0,
              "written value differs from the one read in bits other than 0, 1 and 9",
              h.lastRead[index], value);
        h.writeAddress[h.writeCount] = h.machine.addressLatch;
        h.writeValue[h.writeCount] = value;
        ++h.writeCount;
    }
    PciMachinePortOut32(h.machine, port, value);
}

uint32_t PortIn32(uint16_t port)
{
    Harness& h = *harness;
    Check(port == kPciConfigDataPort, "read of a port other than 0xCFC", port);
    Check(h.phase == Phase::Reading, "configuration read during selection or write",
          h.machine.addressLatch);
    Check(h.readsLeft > 0, "more reads than any bounded scan needs", h.machine.addressLatch);
    --h.readsLeft;
    const uint32_t value = PciMachinePortIn32(h.machine, port);
    const unsigned index = SlotIndex(h.machine.addressLatch);
    if (index != 0) {
        h.lastRead[index] = value;
        h.lastReadStamp[index] = h.stamp;
    }
    return value;
}

namespace {

// Reads one scan and one capability read may need: function 0 of every
// device, each present function fully (0x00, 0x04, 0x34, 64 headers,
// 0x08) plus the absent read that ends its device, and the read's own walk,
// status and command.
unsigned ReadBudget(size_t functions)
{
    return 8192 + static_cast<unsigned>(functions) * (3 + kMaxCapabilityHeaders + 1 + 1) +
           1 + kMaxCapabilityHeaders + 2;
}

// A record that a read filled: it must describe an AGP capability of a
// present function of the right class, as the machine holds it.
void CheckReadRecord(const AgpCapability& cap, uint32_t classCode)
{
    Check(cap.bus < 256 && cap.devFn < 256, "record place out of range", cap.bus, cap.devFn);
    Check(PciMachineHasFunction(harness->machine, cap.bus, cap.devFn), "record of an absent function",
          cap.bus, cap.devFn);
    Check((Config(cap.bus, cap.devFn, kPciClassRegister) >> 16) == classCode, "record of the wrong class",
          Config(cap.bus, cap.devFn, kPciClassRegister), classCode);
    Check(cap.capOffset < 256, "capability offset out of range", cap.capOffset);
    const uint32_t header = Config(cap.bus, cap.devFn, cap.capOffset);
    Check(cap.capId == kAgpCapabilityId && (header & 0xFF) == kAgpCapabilityId,
          "record not at an AGP capability", cap.capOffset, header);
    Check(cap.minorRev == ((header >> 16) & 0xF) && cap.majorRev == ((header >> 20) & 0xF),
          "revision not the header's", header);
    Check(cap.status == Config(cap.bus, cap.devFn, cap.capOffset + kAgpStatusOffset),
          "status not the machine's", cap.status);
    Check(cap.command == Config(cap.bus, cap.devFn, cap.capOffset + kAgpCommandOffset),
          "command not the machine's", cap.command);
}

bool Same(const AgpCapability& a, const AgpCapability& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A read on an unchanging machine either finds and reads the function or
// finds nothing and leaves the record alone.
void Read(bool adapter, AgpCapability& cap, int32_t& result, size_t functions)
{
    const AgpCapability before = cap;
    harness->readsLeft = ReadBudget(functions);
    result = adapter ? ReadAdapterCapability(cap) : ReadChipsetCapability(cap);
    if (result == AGP_OK) {
        CheckReadRecord(cap, adapter ? 0x0300 : 0x0600);
    } else {
        Check(result == (adapter ? AGP_NO_ADAPTER : AGP_NO_CHIPSET), "unexpected result", result);
        Check(Same(cap, before), "record changed by a read that found nothing");
    }
}

void CheckTexts(const AgpStatusTexts& texts, const AgpCapability& chipset,
                const AgpCapability& adapter)
{
    const bool ok =
        std::strcmp(texts.chipsetRate, (chipset.command & 1) ? "AGP chipset has 1x mode set."
                                                             : "AGP chipset has 2x mode set.") == 0 &&
        std::strcmp(texts.chipsetSba, (chipset.command & 0x200) ? "AGP chipset has SBA enabled."
                                                                : "AGP chipset has SBA disabled.") == 0 &&
        std::strcmp(texts.adapterRate, (adapter.command & 1) ? "Video adapter has 1x mode set."
                                                             : "Video adapter has 2x mode set.") == 0 &&
        std::strcmp(texts.adapterSba, (adapter.command & 0x200) ? "Video adapter has SBA enabled."
                                                                : "Video adapter has SBA disabled.") == 0;
    Check(ok, "sentence does not match the command value", chipset.command, adapter.command);
}

// After a refresh each record was either read again or left as it was.
AgpStatusTexts Refresh(AgpCapability& chipset, AgpCapability& adapter, size_t functions)
{
    const AgpCapability chipsetBefore = chipset, adapterBefore = adapter;
    harness->readsLeft = 2 * ReadBudget(functions);
    const AgpStatusTexts texts = RefreshAgpStatus(chipset, adapter);
    if (!Same(chipset, chipsetBefore)) CheckReadRecord(chipset, 0x0600);
    if (!Same(adapter, adapterBefore)) CheckReadRecord(adapter, 0x0300);
    CheckTexts(texts, chipset, adapter);
    return texts;
}

void CheckSelection(RateRequest rate, AddressingRequest addressing, bool result,
                    const AgpCapability& chipsetBefore, const AgpCapability& adapterBefore,
                    const AgpCapability& chipset, const AgpCapability& adapter)
{
    AgpCapability c = chipset, a = adapter;
    c.command = chipsetBefore.command;
    a.command = adapterBefore.command;
    Check(Same(c, chipsetBefore) && Same(a, adapterBefore), "selection changed more than command");
    Check(((chipset.command ^ chipsetBefore.command) & ~kChangeableBits) == 0 &&
              ((adapter.command ^ adapterBefore.command) & ~kChangeableBits) == 0,
          "selection changed bits other than 0, 1 and 9", chipset.command, adapter.command);

    const uint32_t chipsetRate = chipset.command & 3, adapterRate = adapter.command & 3;
    if (rate == RATE_NONE) {
        Check(result, "no rate requested, yet no common rate");
        Check(chipsetRate == (chipsetBefore.command & 3) && adapterRate == (adapterBefore.command & 3),
              "rate bits changed without a request");
    } else if (result) {
        Check(chipsetRate == adapterRate && (chipsetRate == 1 || chipsetRate == 2),
              "chosen rate not one and the same", chipsetRate, adapterRate);
        Check(chipsetRate == 1 || rate == RATE_2X, "2x chosen for a 1x request");
    } else {
        Check(rate == RATE_2X && chipsetRate == 0 && adapterRate == 0,
              "failed selection left rate bits", chipsetRate, adapterRate);
    }

    const uint32_t chipsetSba = chipset.command & 0x200, adapterSba = adapter.command & 0x200;
    if (addressing == ADDR_NONE || (addressing == ADDR_SBA && !(chipset.status & 0x200) &&
                                    (adapter.status & 0x200))) {
        Check(chipsetSba == (chipsetBefore.command & 0x200) &&
                  adapterSba == (adapterBefore.command & 0x200),
              "bit 9 changed where it stays");
    } else if (addressing == ADDR_SBA && (chipset.status & 0x200) && (adapter.status & 0x200)) {
        Check(chipsetSba && adapterSba, "SBA not enabled in both");
    } else {
        Check(!chipsetSba && !adapterSba, "SBA not cleared in both");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!harness) harness = new Harness;
    Harness& h = *harness;

    fuzz::Reader in(data, size);
    const fuzz::Requests requests = fuzz::DecodeRequests(in);
    const std::vector<PciDumpFunction> functions = fuzz::DecodeFunctions(in);
    std::string error;
    Check(BuildPciMachine(functions, h.machine, error), "machine not built");
    ++h.stamp;
    h.phase = Phase::Reading;
    h.writeCount = 0;

    // Start-up as the dialog does it.
    AgpCapability chipset, adapter;
    std::memset(&chipset, 0xA5, sizeof chipset);
    std::memset(&adapter, 0x5A, sizeof adapter);
    int32_t result;
    Read(false, chipset, result, functions.size());
    if (result != AGP_OK) return 0;
    Read(true, adapter, result, functions.size());
    if (result != AGP_OK) return 0;
    Check(!(chipset.bus == adapter.bus && chipset.devFn == adapter.devFn),
          "chipset and adapter in one function");

    h.readsLeft = 2;
    const uint32_t id = Config(chipset.bus, chipset.devFn, kPciIdRegister);
    const bool family = (id & 0xFFFF) == 0x5A17 && ((id >> 16) == 0x3C91 || (id >> 16) == 0x3C93);
    const bool disabled = IsAgpDisabledByChipset(chipset);
    Check(h.readsLeft == (family ? 0u : 1u), "register 0xAC read for another chipset", id);
    Check(disabled == (family && !(Config(chipset.bus, chipset.devFn, 0xAC) & 1)),
          "wrong answer from the chipset check", id);
    if (disabled) return 0;

    Refresh(chipset, adapter, functions.size());

    // Set Mode, once or twice.
    for (unsigned round = 0; round < requests.rounds; ++round) {
        const AgpCapability chipsetBefore = chipset, adapterBefore = adapter;
        h.phase = Phase::Selecting;
        const bool selected = SelectAgpMode(requests.rate[round], requests.addressing[round],
                                            chipset, adapter);
        CheckSelection(requests.rate[round], requests.addressing[round], selected, chipsetBefore,
                       adapterBefore, chipset, adapter);

        h.phase = Phase::Writing;
        h.writeCount = 0;
        WriteAgpCommands(chipset, adapter);
        Check(h.writeCount == 2, "not exactly two command writes", h.writeCount);
        Check(h.writeAddress[0] == PciConfigAddress(adapter.bus, adapter.devFn,
                                                    adapter.capOffset + kAgpCommandOffset) &&
                  h.writeValue[0] == adapter.command,
              "first write is not the adapter's command", h.writeAddress[0], h.writeValue[0]);
        Check(h.writeAddress[1] == PciConfigAddress(chipset.bus, chipset.devFn,
                                                    chipset.capOffset + kAgpCommandOffset) &&
                  h.writeValue[1] == chipset.command,
              "second write is not the chipset's command", h.writeAddress[1], h.writeValue[1]);

        h.phase = Phase::Reading;
        Refresh(chipset, adapter, functions.size());
    }
    return 0;
}
