// SelectAgpMode: the rate and addressing tables, and what it leaves alone.
#include "hw_test_util.h"

namespace {

using SelectionTest = HwTest;

AgpCapability Party(uint32_t status, uint32_t command)
{
    AgpCapability cap = Filled();
    cap.status = status;
    cap.command = command;
    return cap;
}

// Everything but status and command must come through unchanged.
void ExpectOnlyCommandChanged(const AgpCapability& after, const AgpCapability& before)
{
    AgpCapability masked = after;
    masked.command = before.command;
    EXPECT_TRUE(SameBytes(masked, before));
}

struct Row {
    const char* what;
    RateRequest rate;
    AddressingRequest addressing;
    uint32_t chipsetStatus, adapterStatus;
    uint32_t chipsetBefore, adapterBefore;
    uint32_t chipsetAfter, adapterAfter;
    bool result;
};

void Check(const Row& row)
{
    SCOPED_TRACE(row.what);
    AgpCapability chipset = Party(row.chipsetStatus, row.chipsetBefore);
    AgpCapability adapter = Party(row.adapterStatus, row.adapterBefore);
    const AgpCapability chipsetBefore = chipset, adapterBefore = adapter;
    Bus().ClearAccesses();
    EXPECT_EQ(SelectAgpMode(row.rate, row.addressing, chipset, adapter), row.result);
    EXPECT_EQ(chipset.command, row.chipsetAfter) << std::hex << chipset.command;
    EXPECT_EQ(adapter.command, row.adapterAfter) << std::hex << adapter.command;
    ExpectOnlyCommandChanged(chipset, chipsetBefore);
    ExpectOnlyCommandChanged(adapter, adapterBefore);
    EXPECT_TRUE(Bus().Accesses().empty());  // no hardware touched
}

TEST_F(SelectionTest, RateRule)
{
    // Commands carry bit 2 (4x rate), bit 8 (AGP enable) and request depth,
    // which must survive every rule.
    const Row rows[] = {
        {"none leaves both rate bits", RATE_NONE, ADDR_NONE, 0x203, 0x203,
         0x1F000107, 0x00000106, 0x1F000107, 0x00000106, true},
        {"none with nothing supported", RATE_NONE, ADDR_NONE, 0, 0,
         0x00000003, 0x00000000, 0x00000003, 0x00000000, true},
        {"1x although neither reports 1x", RATE_1X, ADDR_NONE, 0, 0,
         0x1F000106, 0x00000006, 0x1F000105, 0x00000005, true},
        {"1x although both report 2x", RATE_1X, ADDR_NONE, 0x003, 0x003,
         0x00000102, 0x00000102, 0x00000101, 0x00000101, true},
        {"2x when both report 2x", RATE_2X, ADDR_NONE, 0x203, 0x203,
         0x1F000105, 0x00000101, 0x1F000106, 0x00000102, true},
        {"2x when both report 2x but no 1x", RATE_2X, ADDR_NONE, 0x002, 0x002,
         0x00000000, 0x00000003, 0x00000002, 0x00000002, true},
        {"2x falls back to 1x: chipset lacks 2x", RATE_2X, ADDR_NONE, 0x001, 0x003,
         0x00000102, 0x00000106, 0x00000101, 0x00000105, true},
        {"2x falls back to 1x: adapter lacks 2x", RATE_2X, ADDR_NONE, 0x003, 0x001,
         0x00000002, 0x00000002, 0x00000001, 0x00000001, true},
        {"1x fallback does not ask the chipset", RATE_2X, ADDR_NONE, 0x000, 0x001,
         0x00000000, 0x00000000, 0x00000001, 0x00000001, true},
        {"no common rate: adapter 2x only, chipset 1x only", RATE_2X, ADDR_NONE, 0x001, 0x002,
         0x00000101, 0x00000107, 0x00000100, 0x00000104, false},
        {"no common rate: nothing reported", RATE_2X, ADDR_NONE, 0x000, 0x000,
         0xFFFFFFFF, 0x00000003, 0xFFFFFFFC, 0x00000000, false},
        {"no common rate: chipset 1x does not help", RATE_2X, ADDR_NONE, 0x203, 0x000,
         0x00000001, 0x00000001, 0x00000000, 0x00000000, false},
    };
    for (const Row& row : rows) Check(row);
}

TEST_F(SelectionTest, AddressingRule)
{
    const uint32_t sba = 0x200;
    // Starting values with bit 9 different between the parties show when
    // the rule leaves them alone.
    const Row rows[] = {
        {"none leaves bit 9", RATE_NONE, ADDR_NONE, sba, sba,
         0x00000301, 0x00000101, 0x00000301, 0x00000101, true},
        {"SBA, both support it", RATE_NONE, ADDR_SBA, sba, sba,
         0x00000101, 0x1F000104, 0x00000301, 0x1F000304, true},
        {"SBA, only the chipset supports it", RATE_NONE, ADDR_SBA, sba, 0,
         0x00000301, 0x00000301, 0x00000101, 0x00000101, true},
        {"SBA, only the adapter supports it: unchanged", RATE_NONE, ADDR_SBA, 0, sba,
         0x00000301, 0x00000101, 0x00000301, 0x00000101, true},
        {"SBA, only the adapter supports it: unchanged, other way", RATE_NONE, ADDR_SBA, 0, sba,
         0x00000101, 0xFFFFFFFF, 0x00000101, 0xFFFFFFFF, true},
        {"SBA, neither supports it", RATE_NONE, ADDR_SBA, 0, 0,
         0x00000301, 0xFFFFFFFF, 0x00000101, 0xFFFFFDFF, true},
        {"pipe, both support SBA", RATE_NONE, ADDR_PIPE, sba, sba,
         0x00000301, 0x00000307, 0x00000101, 0x00000107, true},
        {"pipe, only the chipset", RATE_NONE, ADDR_PIPE, sba, 0,
         0x00000200, 0x00000200, 0x00000000, 0x00000000, true},
        {"pipe, only the adapter", RATE_NONE, ADDR_PIPE, 0, sba,
         0xFFFFFFFF, 0x00000301, 0xFFFFFDFF, 0x00000101, true},
        {"pipe, neither", RATE_NONE, ADDR_PIPE, 0, 0,
         0x00000301, 0x00000100, 0x00000101, 0x00000100, true},
    };
    for (const Row& row : rows) Check(row);
}

TEST_F(SelectionTest, BothRulesTogether)
{
    const Row rows[] = {
        {"2x and SBA", RATE_2X, ADDR_SBA, 0x1F000203, 0x1F000203,
         0x00000101, 0x1F000101, 0x00000302, 0x1F000302, true},
        {"addressing still runs without a common rate", RATE_2X, ADDR_SBA, 0x201, 0x202,
         0x00000101, 0x00000100, 0x00000300, 0x00000300, false},
        {"pipe without a common rate", RATE_2X, ADDR_PIPE, 0x201, 0x202,
         0x00000301, 0x00000303, 0x00000100, 0x00000100, false},
        {"1x and pipe", RATE_1X, ADDR_PIPE, 0x203, 0x203,
         0x00000306, 0x00000302, 0x00000105, 0x00000101, true},
    };
    for (const Row& row : rows) Check(row);
}

}  // namespace
