// Whole machines from tests/machines: what the dialog's start-up finds on
// each, and the selections that the machine was written for.
#include "hw_test_util.h"

namespace {

using MachinesTest = HwTest;

struct Party {
    uint16_t bus, devFn;
    uint32_t capOffset, status, command;
};

struct StartUpCase {
    const char* file;
    int32_t chipsetResult;
    int32_t adapterResult;  // when the chipset was found
    Party chipset, adapter;
    bool disabled;          // when both were found
};

const StartUpCase kStartUps[] = {
    {"agp2x-classic.txt", AGP_OK, AGP_OK,
     {0, 0, 0xA0, 0x1F000203, 0x00000101}, {1, 0, 0x44, 0x1F000203, 0x1F000101}, false},
    {"adapter-no-2x.txt", AGP_OK, AGP_OK,
     {0, 0, 0xA0, 0x1F000203, 0x00000101}, {1, 0, 0x50, 0x07000201, 0x00000101}, false},
    {"chipset-no-sba.txt", AGP_OK, AGP_OK,
     {0, 0, 0xA0, 0x07000003, 0x00000102}, {1, 0, 0xF0, 0x1F000203, 0x00000302}, false},
    {"chipset-5a17-agp-off.txt", AGP_OK, AGP_OK,
     {0, 0, 0xA0, 0x1F000203, 0x00000101}, {1, 0, 0xD0, 0x1F000203, 0x00000101}, true},
    {"chipset-5a17-agp-on.txt", AGP_OK, AGP_OK,
     {0, 0, 0xA0, 0x1F000203, 0x00000101}, {1, 0, 0xD0, 0x1F000203, 0x00000101}, false},
    {"no-common-rate.txt", AGP_OK, AGP_OK,
     {0, 0, 0xA0, 0x07000201, 0x00000101}, {1, 0, 0x80, 0x1F000202, 0x00000000}, false},
    {"no-agp-adapter.txt", AGP_OK, AGP_NO_ADAPTER,
     {0, 0, 0xA0, 0x1F000203, 0x00000000}, {}, false},
    {"capability-cycle.txt", AGP_OK, AGP_NO_ADAPTER,
     {0, 0, 0xA0, 0x1F000203, 0x00000101}, {}, false},
    {"no-agp-chipset.txt", AGP_NO_CHIPSET, 0, {}, {}, false},
    {"empty-bus.txt", AGP_NO_CHIPSET, 0, {}, {}, false},
};

void ExpectParty(const AgpCapability& cap, const Party& party)
{
    EXPECT_EQ(cap.bus, party.bus);
    EXPECT_EQ(cap.devFn, party.devFn);
    EXPECT_EQ(cap.capOffset, party.capOffset);
    EXPECT_EQ(cap.capId, 2);
    EXPECT_EQ(cap.status, party.status);
    EXPECT_EQ(cap.command, party.command);
}

TEST_F(MachinesTest, StartUp)
{
    for (const StartUpCase& c : kStartUps) {
        SCOPED_TRACE(c.file);
        Bus().LoadFile(MachinePath(c.file));
        AgpCapability chipset = Filled(), adapter = Filled();
        const AgpCapability untouched = Filled();
        ASSERT_EQ(ReadChipsetCapability(chipset), c.chipsetResult);
        if (c.chipsetResult != AGP_OK) {
            EXPECT_TRUE(SameBytes(chipset, untouched));
            continue;
        }
        ExpectParty(chipset, c.chipset);
        ASSERT_EQ(ReadAdapterCapability(adapter), c.adapterResult);
        if (c.adapterResult != AGP_OK) {
            EXPECT_TRUE(SameBytes(adapter, untouched));
            continue;
        }
        ExpectParty(adapter, c.adapter);
        EXPECT_EQ(IsAgpDisabledByChipset(chipset), c.disabled);
        EXPECT_TRUE(ConfigWrites().empty());
    }
}

TEST_F(MachinesTest, EmptyBusScanIs8192Reads)
{
    Bus().LoadFile(MachinePath("empty-bus.txt"));
    AgpCapability cap = Filled();
    EXPECT_EQ(ReadChipsetCapability(cap), AGP_NO_CHIPSET);
    EXPECT_EQ(Bus().CountConfigReads(), 8192u);
}

TEST_F(MachinesTest, CapabilityCycleIsLeftAfterSixtyFourHeaders)
{
    Bus().LoadFile(MachinePath("capability-cycle.txt"));
    AgpCapability cap = Filled();
    EXPECT_EQ(ReadAdapterCapability(cap), AGP_NO_ADAPTER);
    EXPECT_EQ(CountReadsOf(1, 0), 3u + 64);
}

struct SetModeCase {
    const char* file;
    RateRequest rate;
    AddressingRequest addressing;
    bool result;
    uint32_t adapterWrite, chipsetWrite;
};

TEST_F(MachinesTest, SetMode)
{
    const SetModeCase cases[] = {
        // The adapter has no 2x: a 2x request ends at 1x, no message.
        {"adapter-no-2x.txt", RATE_2X, ADDR_SBA, true, 0x00000301, 0x00000301},
        // The chipset has no SBA: an SBA request leaves bit 9 as it was in
        // both (set on the adapter, clear on the chipset); pipe clears it.
        {"chipset-no-sba.txt", RATE_2X, ADDR_SBA, true, 0x00000302, 0x00000102},
        {"chipset-no-sba.txt", RATE_NONE, ADDR_PIPE, true, 0x00000102, 0x00000102},
        {"no-common-rate.txt", RATE_2X, ADDR_NONE, false, 0x00000000, 0x00000100},
        {"no-common-rate.txt", RATE_1X, ADDR_NONE, true, 0x00000001, 0x00000101},
        {"agp2x-classic.txt", RATE_2X, ADDR_SBA, true, 0x1F000302, 0x00000302},
    };
    for (const SetModeCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.file << " rate " << c.rate << " addressing "
                                          << c.addressing);
        Bus().LoadFile(MachinePath(c.file));
        AgpCapability chipset = Filled(), adapter = Filled();
        ASSERT_EQ(ReadChipsetCapability(chipset), AGP_OK);
        ASSERT_EQ(ReadAdapterCapability(adapter), AGP_OK);
        EXPECT_EQ(SelectAgpMode(c.rate, c.addressing, chipset, adapter), c.result);
        Bus().ClearAccesses();
        WriteAgpCommands(chipset, adapter);
        const std::vector<ConfigWrite> writes = {
            {PciConfigAddress(adapter.bus, adapter.devFn, adapter.capOffset + 8), c.adapterWrite},
            {PciConfigAddress(chipset.bus, chipset.devFn, chipset.capOffset + 8), c.chipsetWrite}};
        EXPECT_EQ(ConfigWrites(), writes);
    }
}

}  // namespace
