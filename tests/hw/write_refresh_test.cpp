// WriteAgpCommands and RefreshAgpStatus, and the Set Mode sequence the
// dialog runs with them: select, write, refresh.
#include <memory>
#include <string>

#include "hw_test_util.h"

namespace {

using WriteRefreshTest = HwTest;

const char* const kChipset1x = "AGP chipset has 1x mode set.";
const char* const kChipset2x = "AGP chipset has 2x mode set.";
const char* const kChipsetSbaOn = "AGP chipset has SBA enabled.";
const char* const kChipsetSbaOff = "AGP chipset has SBA disabled.";
const char* const kAdapter1x = "Video adapter has 1x mode set.";
const char* const kAdapter2x = "Video adapter has 2x mode set.";
const char* const kAdapterSbaOn = "Video adapter has SBA enabled.";
const char* const kAdapterSbaOff = "Video adapter has SBA disabled.";

void ExpectTexts(const AgpStatusTexts& texts, const char* chipsetRate, const char* chipsetSba,
                 const char* adapterRate, const char* adapterSba)
{
    EXPECT_STREQ(texts.chipsetRate, chipsetRate);
    EXPECT_STREQ(texts.chipsetSba, chipsetSba);
    EXPECT_STREQ(texts.adapterRate, adapterRate);
    EXPECT_STREQ(texts.adapterSba, adapterSba);
}

AgpCapability Record(uint16_t bus, uint16_t devFn, uint32_t capOffset, uint32_t command)
{
    AgpCapability cap = Filled();
    cap.bus = bus;
    cap.devFn = devFn;
    cap.capOffset = capOffset;
    cap.command = command;
    return cap;
}

// The dialog's start-up: both reads must succeed.
void StartUp(AgpCapability& chipset, AgpCapability& adapter)
{
    ASSERT_EQ(ReadChipsetCapability(chipset), AGP_OK);
    ASSERT_EQ(ReadAdapterCapability(adapter), AGP_OK);
}

TEST_F(WriteRefreshTest, WritesTheAdapterThenTheChipsetWholeAndNothingElse)
{
    struct Case {
        const char* what;
        uint32_t adapterOffset, chipsetOffset;
        uint32_t adapterAddress, chipsetAddress;
    } cases[] = {
        {"aligned", 0x44, 0xA0, 0x8001004C, 0x800000A8},
        {"misaligned offsets", 0x6B, 0x47, 0x80010070, 0x8000004C},
        {"offsets that wrap past 0xFF", 0xFD, 0xF8, 0x80010004, 0x80000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Load({Fn(0, 0, 0), Fn(1, 0, 0)});
        const AgpCapability chipset = Record(0, 0, c.chipsetOffset, 0x1F000106);
        const AgpCapability adapter = Record(1, 0, c.adapterOffset, 0x00000305);
        WriteAgpCommands(chipset, adapter);
        const std::vector<PortAccess> expected = {
            {true, 0xCF8, c.adapterAddress}, {true, 0xCFC, 0x00000305},
            {true, 0xCF8, c.chipsetAddress}, {true, 0xCFC, 0x1F000106}};
        EXPECT_EQ(Bus().Accesses(), expected);
        EXPECT_EQ(Bus().Config(1, 0, c.adapterAddress & 0xFF), 0x00000305u);
        EXPECT_EQ(Bus().Config(0, 0, c.chipsetAddress & 0xFF), 0x1F000106u);
    }
}

TEST_F(WriteRefreshTest, SentencesFollowBitZeroAndBitNine)
{
    struct Case {
        uint32_t chipsetCommand, adapterCommand;
        const char *chipsetRate, *chipsetSba, *adapterRate, *adapterSba;
    } cases[] = {
        {0x00000101, 0x1F000302, kChipset1x, kChipsetSbaOff, kAdapter2x, kAdapterSbaOn},
        {0x00000302, 0x00000101, kChipset2x, kChipsetSbaOn, kAdapter1x, kAdapterSbaOff},
        {0x00000003, 0x00000004, kChipset1x, kChipsetSbaOff, kAdapter2x, kAdapterSbaOff},
        {0x00000000, 0xFFFFFFFF, kChipset2x, kChipsetSbaOff, kAdapter1x, kAdapterSbaOn},
        {0xFFFFFDFE, 0x00000200, kChipset2x, kChipsetSbaOff, kAdapter2x, kAdapterSbaOn},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.chipsetCommand << " " << c.adapterCommand);
        Load({AgpChipset(0, 0, 0, 0x203, c.chipsetCommand),
              AgpAdapter(1, 0, 0, 0x203, c.adapterCommand)});
        AgpCapability chipset = Filled(), adapter = Filled();
        ExpectTexts(RefreshAgpStatus(chipset, adapter), c.chipsetRate, c.chipsetSba, c.adapterRate,
                    c.adapterSba);
        EXPECT_EQ(chipset.command, c.chipsetCommand);
        EXPECT_EQ(adapter.command, c.adapterCommand);
    }
}

TEST_F(WriteRefreshTest, RefreshIsAFullChipsetReadThenAFullAdapterRead)
{
    Bus().LoadFile(MachinePath("agp2x-classic.txt"));
    AgpCapability chipset = Filled(), adapter = Filled();
    ReadChipsetCapability(chipset);
    const std::vector<uint32_t> chipsetReads = ReadAddresses();
    Bus().ClearAccesses();
    ReadAdapterCapability(adapter);
    std::vector<uint32_t> expected = chipsetReads;
    const std::vector<uint32_t> adapterReads = ReadAddresses();
    expected.insert(expected.end(), adapterReads.begin(), adapterReads.end());

    Bus().ClearAccesses();
    AgpCapability chipsetAgain = Filled(0x11), adapterAgain = Filled(0x22);
    RefreshAgpStatus(chipsetAgain, adapterAgain);
    EXPECT_EQ(ReadAddresses(), expected);
    EXPECT_TRUE(ConfigWrites().empty());
    // The stale bytes were overwritten, except nextPtr of the chipset,
    // whose AGP capability is first in its list.
    chipsetAgain.nextPtr = chipset.nextPtr;
    EXPECT_TRUE(SameBytes(chipsetAgain, chipset));
    EXPECT_TRUE(SameBytes(adapterAgain, adapter));
}

TEST_F(WriteRefreshTest, SetModeOnTheClassicMachine)
{
    Bus().LoadFile(MachinePath("agp2x-classic.txt"));
    AgpCapability chipset = Filled(), adapter = Filled();
    StartUp(chipset, adapter);
    ExpectTexts(RefreshAgpStatus(chipset, adapter), kChipset1x, kChipsetSbaOff, kAdapter1x,
                kAdapterSbaOff);

    EXPECT_TRUE(SelectAgpMode(RATE_2X, ADDR_SBA, chipset, adapter));
    Bus().ClearAccesses();
    WriteAgpCommands(chipset, adapter);
    const std::vector<ConfigWrite> writes = {{0x8001004C, 0x1F000302}, {0x800000A8, 0x00000302}};
    EXPECT_EQ(ConfigWrites(), writes);
    EXPECT_EQ(Bus().CountConfigReads(), 0u);
    ExpectTexts(RefreshAgpStatus(chipset, adapter), kChipset2x, kChipsetSbaOn, kAdapter2x,
                kAdapterSbaOn);
    EXPECT_EQ(adapter.command, 0x1F000302u);
    EXPECT_EQ(chipset.command, 0x00000302u);
}

TEST_F(WriteRefreshTest, BitsEightAndTwoSurviveSelectionAndWrite)
{
    Load({AgpChipset(0, 0, 0, 0x203, 0xFFFFFDFF), AgpAdapter(1, 0, 0, 0x203, 0x00000104)});
    AgpCapability chipset = Filled(), adapter = Filled();
    StartUp(chipset, adapter);
    EXPECT_TRUE(SelectAgpMode(RATE_2X, ADDR_SBA, chipset, adapter));
    Bus().ClearAccesses();
    WriteAgpCommands(chipset, adapter);
    const std::vector<ConfigWrite> writes = {{0x80010048, 0x00000306}, {0x80000048, 0xFFFFFFFE}};
    EXPECT_EQ(ConfigWrites(), writes);
}

TEST_F(WriteRefreshTest, NoCommonRateStillWritesBothAndRefreshes)
{
    Bus().LoadFile(MachinePath("no-common-rate.txt"));
    AgpCapability chipset = Filled(), adapter = Filled();
    StartUp(chipset, adapter);
    EXPECT_FALSE(SelectAgpMode(RATE_2X, ADDR_SBA, chipset, adapter));
    Bus().ClearAccesses();
    WriteAgpCommands(chipset, adapter);
    // Rate bits clear in both, SBA set: both parties report it.
    const std::vector<ConfigWrite> writes = {{0x80010088, 0x00000200}, {0x800000A8, 0x00000300}};
    EXPECT_EQ(ConfigWrites(), writes);
    ExpectTexts(RefreshAgpStatus(chipset, adapter), kChipset2x, kChipsetSbaOn, kAdapter2x,
                kAdapterSbaOn);
}

TEST_F(WriteRefreshTest, NoRequestsStillWriteTheHeldValues)
{
    Bus().LoadFile(MachinePath("chipset-no-sba.txt"));
    AgpCapability chipset = Filled(), adapter = Filled();
    StartUp(chipset, adapter);
    EXPECT_TRUE(SelectAgpMode(RATE_NONE, ADDR_NONE, chipset, adapter));
    Bus().ClearAccesses();
    WriteAgpCommands(chipset, adapter);
    const std::vector<ConfigWrite> writes = {{0x800100F8, 0x00000302}, {0x800000A8, 0x00000102}};
    EXPECT_EQ(ConfigWrites(), writes);
    ExpectTexts(RefreshAgpStatus(chipset, adapter), kChipset2x, kChipsetSbaOff, kAdapter2x,
                kAdapterSbaOn);
}

// Calls `change` once, right after the scan has read the class register
// of the adapter at 01:00.0: between its scan and its read.
void ChangeAfterAdapterScan(std::function<void()> change)
{
    const uint32_t classAddress = PciConfigAddress(1, 0, kPciClassRegister);
    auto done = std::make_shared<bool>(false);
    Bus().onAccess = [classAddress, change, done](const PortAccess& access) {
        if (!*done && !access.write && access.port == kPciConfigDataPort &&
            Bus().Machine().addressLatch == classAddress) {
            *done = true;
            change();
        }
    };
}

TEST_F(WriteRefreshTest, FailedAdapterReReadKeepsTheSelectedValues)
{
    Bus().LoadFile(MachinePath("agp2x-classic.txt"));
    AgpCapability chipset = Filled(), adapter = Filled();
    StartUp(chipset, adapter);
    EXPECT_TRUE(SelectAgpMode(RATE_1X, ADDR_SBA, chipset, adapter));
    WriteAgpCommands(chipset, adapter);
    const AgpCapability selected = adapter;

    // Between the refresh's adapter scan and its read, the power management
    // header at 0x60 stops leading to the AGP capability at 0x44, and the
    // command register changes: neither may show in the sentences.
    ChangeAfterAdapterScan([] {
        Bus().SetConfig(1, 0, 0x60, 0x00020001);
        Bus().SetConfig(1, 0, 0x4C, 0x00000000);
    });
    ExpectTexts(RefreshAgpStatus(chipset, adapter), kChipset1x, kChipsetSbaOn, kAdapter1x,
                kAdapterSbaOn);
    EXPECT_EQ(adapter.bus, 1);
    EXPECT_EQ(adapter.devFn, 0);
    EXPECT_EQ(adapter.capOffset, 0x60u);
    EXPECT_EQ(adapter.capId, 1);
    EXPECT_EQ(adapter.nextPtr, 0);
    EXPECT_EQ(adapter.majorRev, selected.majorRev);
    EXPECT_EQ(adapter.minorRev, selected.minorRev);
    EXPECT_EQ(adapter.status, selected.status);
    EXPECT_EQ(adapter.command, 0x1F000301u);
    EXPECT_EQ(chipset.command, 0x00000301u);
}

TEST_F(WriteRefreshTest, VanishedChipsetLeavesItsRecordAndSentence)
{
    Bus().LoadFile(MachinePath("agp2x-classic.txt"));
    AgpCapability chipset = Filled(), adapter = Filled();
    StartUp(chipset, adapter);
    EXPECT_TRUE(SelectAgpMode(RATE_2X, ADDR_PIPE, chipset, adapter));
    WriteAgpCommands(chipset, adapter);
    const AgpCapability selected = chipset;

    Bus().SetConfig(0, 0, 0x00, 0xFFFFFFFF);  // host bridge no longer answers
    Bus().SetConfig(1, 0, 0x4C, 0x00000301);  // adapter register changed behind us
    ExpectTexts(RefreshAgpStatus(chipset, adapter), kChipset2x, kChipsetSbaOff, kAdapter1x,
                kAdapterSbaOn);
    EXPECT_TRUE(SameBytes(chipset, selected));
    EXPECT_EQ(adapter.command, 0x00000301u);
}

TEST_F(WriteRefreshTest, SecondSetModeWorksOnTheValuesReadBack)
{
    Bus().LoadFile(MachinePath("agp2x-classic.txt"));
    // The adapter's command register keeps bit 8 clear and its request
    // depth fixed, whatever is written.
    Bus().onAccess = [](const PortAccess& access) {
        if (access.write && access.port == kPciConfigDataPort &&
            Bus().Machine().addressLatch == 0x8001004C)
            Bus().SetConfig(1, 0, 0x4C, (access.value & ~0xFF000100u) | 0x07000000u);
    };
    AgpCapability chipset = Filled(), adapter = Filled();
    StartUp(chipset, adapter);
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(SelectAgpMode(RATE_2X, ADDR_SBA, chipset, adapter));
        Bus().ClearAccesses();
        WriteAgpCommands(chipset, adapter);
        const std::vector<ConfigWrite> writes = {
            {0x8001004C, round == 0 ? 0x1F000302u : 0x07000202u}, {0x800000A8, 0x00000302}};
        EXPECT_EQ(ConfigWrites(), writes) << "round " << round;
        RefreshAgpStatus(chipset, adapter);
        EXPECT_EQ(adapter.command, 0x07000202u);
    }
}

}  // namespace
