// ReadAgpCapability and its two wrappers: which fields are written, the
// reads made, and a capability list that changes between scan and read.
#include <algorithm>
#include <functional>
#include <memory>

#include "hw_test_util.h"

namespace {

using CapabilityReadTest = HwTest;

TEST_F(CapabilityReadTest, ClassicMachineRecords)
{
    Bus().LoadFile(MachinePath("agp2x-classic.txt"));

    AgpCapability chipset = Filled();
    EXPECT_EQ(ReadChipsetCapability(chipset), AGP_OK);
    EXPECT_EQ(chipset.capOffset, 0xA0u);
    EXPECT_EQ(chipset.bus, 0);
    EXPECT_EQ(chipset.devFn, 0);
    EXPECT_EQ(chipset.capId, 2);
    EXPECT_EQ(chipset.nextPtr, 0xA5A5);  // AGP first in the list: not written
    EXPECT_EQ(chipset.majorRev, 1);
    EXPECT_EQ(chipset.minorRev, 0);
    EXPECT_EQ(chipset.status, 0x1F000203u);
    EXPECT_EQ(chipset.command, 0x00000101u);

    AgpCapability adapter = Filled();
    EXPECT_EQ(ReadAdapterCapability(adapter), AGP_OK);
    EXPECT_EQ(adapter.capOffset, 0x44u);
    EXPECT_EQ(adapter.bus, 1);
    EXPECT_EQ(adapter.devFn, 0);
    EXPECT_EQ(adapter.capId, 2);
    EXPECT_EQ(adapter.nextPtr, 0x44);  // power management at 0x60 led here
    EXPECT_EQ(adapter.majorRev, 2);
    EXPECT_EQ(adapter.minorRev, 0);
    EXPECT_EQ(adapter.status, 0x1F000203u);
    EXPECT_EQ(adapter.command, 0x1F000101u);
    EXPECT_TRUE(ConfigWrites().empty());
}

TEST_F(CapabilityReadTest, ReadsTheScanThenPointerHeaderStatusCommandAndNothingElse)
{
    Load({Fn(0, 0, 0, 0x002810DE).Class(0x0300).CapList(0x40).Agp(0x40, 0, 0x203, 0x101, 0x31)});
    AgpCapability cap = Filled();
    EXPECT_EQ(ReadAdapterCapability(cap), AGP_OK);
    EXPECT_EQ(cap.majorRev, 3);
    EXPECT_EQ(cap.minorRev, 1);
    const std::vector<uint32_t> expected = {
        // scan: found at once
        0x80000000, 0x80000004, 0x80000034, 0x80000040, 0x80000008,
        // read: the walk again, then status and command
        0x80000034, 0x80000040, 0x80000044, 0x80000048,
    };
    EXPECT_EQ(ReadAddresses(), expected);
    EXPECT_EQ(Bus().Accesses().size(), 2 * expected.size());
}

TEST_F(CapabilityReadTest, NextPointerFollowsThePositionOfTheAgpCapability)
{
    struct Case {
        const char* what;
        Fn function;
        uint32_t capOffset;
        uint16_t nextPtr;
    } cases[] = {
        // Only the low byte of register 0x34 is the pointer.
        {"first",
         Fn(0, 1, 0).Class(0x0300).CapList(0x40).Set(0x34, 0xFFFFFF40).Agp(0x40, 0x50, 3, 1)
             .Cap(0x50, 1, 0),
         0x40, 0xA5A5},
        {"second", Fn(0, 1, 0).Class(0x0300).CapList(0x50).Cap(0x50, 1, 0x40).Agp(0x40, 0, 3, 1),
         0x40, 0x40},
        {"third",
         Fn(0, 1, 0).Class(0x0300).CapList(0x50).Cap(0x50, 1, 0x60).Cap(0x60, 9, 0xC4).Agp(0xC4, 0, 3, 1),
         0xC4, 0xC4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Load({c.function});
        AgpCapability cap = Filled();
        EXPECT_EQ(ReadAdapterCapability(cap), AGP_OK);
        EXPECT_EQ(cap.capOffset, c.capOffset);
        EXPECT_EQ(cap.capId, 2);
        EXPECT_EQ(cap.nextPtr, c.nextPtr);
    }
}

TEST_F(CapabilityReadTest, CapabilityPointerZeroReadsTheIdentificationAsHeader)
{
    // Vendor 0x1002 (ID byte 2), device 0x4742: revision nibbles 2 and 4.
    // Status comes from register 0x04, command from 0x08.
    Load({Fn(0, 1, 0, 0x47421002).Class(0x0300, 0x005C).CapList(0x00)});
    AgpCapability cap = Filled();
    EXPECT_EQ(ReadAdapterCapability(cap), AGP_OK);
    EXPECT_EQ(cap.capOffset, 0u);
    EXPECT_EQ(cap.capId, 2);
    EXPECT_EQ(cap.nextPtr, 0xA5A5);
    EXPECT_EQ(cap.majorRev, 4);
    EXPECT_EQ(cap.minorRev, 2);
    EXPECT_EQ(cap.status, 0x00100000u);
    EXPECT_EQ(cap.command, 0x0300005Cu);
}

TEST_F(CapabilityReadTest, MisalignedPointersKeepTheirLowBitsButReadAligned)
{
    // 0x34 holds 0x57; the header at 0x54 points on with 0x6B to AGP at 0x68.
    Load({Fn(0, 1, 0).Class(0x0300).CapList(0x57).Cap(0x54, 1, 0x6B).Agp(0x68, 0, 0x203, 0x302)});
    AgpCapability cap = Filled();
    EXPECT_EQ(ReadAdapterCapability(cap), AGP_OK);
    EXPECT_EQ(cap.capOffset, 0x6Bu);
    EXPECT_EQ(cap.nextPtr, 0x6B);
    EXPECT_EQ(cap.status, 0x203u);
    EXPECT_EQ(cap.command, 0x302u);
    const std::vector<uint32_t> reads = ReadAddresses();
    const std::vector<uint32_t> tail(reads.end() - 5, reads.end());
    const std::vector<uint32_t> expected = {0x80000834, 0x80000854, 0x80000868, 0x8000086C,
                                            0x80000870};
    EXPECT_EQ(tail, expected);

    // A pointer of 0xFD: status and command wrap to registers 0x00 and 0x04.
    Load({Fn(0, 1, 0, 0x11112222).Class(0x0300).CapList(0xFD).Cap(0xFC, 2, 0, 0x10)
              .Set(0x04, 0x0010FFFF)});
    cap = Filled();
    EXPECT_EQ(ReadAdapterCapability(cap), AGP_OK);
    EXPECT_EQ(cap.capOffset, 0xFDu);
    EXPECT_EQ(cap.status, 0x11112222u);
    EXPECT_EQ(cap.command, 0x0010FFFFu);
}

TEST_F(CapabilityReadTest, NothingFoundLeavesTheRecordByteIdentical)
{
    struct Case {
        const char* what;
        std::vector<PciDumpFunction> functions;
        uint32_t kind;
        int32_t result;
    } cases[] = {
        {"empty bus, adapter", {}, AgpKindAdapter, AGP_NO_ADAPTER},
        {"empty bus, chipset", {}, AgpKindChipset, AGP_NO_CHIPSET},
        {"empty bus, kind 7", {}, 7, AGP_NO_CHIPSET},
        {"chipset only", {AgpChipset(0, 0, 0)}, AgpKindAdapter, AGP_NO_ADAPTER},
        {"adapter only", {AgpAdapter(1, 0, 0)}, AgpKindChipset, AGP_NO_CHIPSET},
        {"adapter only, kind 0", {AgpAdapter(1, 0, 0)}, 0, AGP_NO_CHIPSET},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Load(c.functions);
        for (uint8_t pattern : {0x00, 0xA5, 0xFF}) {
            AgpCapability cap = Filled(pattern);
            const AgpCapability before = cap;
            EXPECT_EQ(ReadAgpCapability(static_cast<AgpFunctionKind>(c.kind), cap), c.result);
            EXPECT_TRUE(SameBytes(cap, before));
        }
    }
}

TEST_F(CapabilityReadTest, EmptyBusReadIsOneScanOfExactly8192Reads)
{
    AgpCapability cap = Filled();
    EXPECT_EQ(ReadAdapterCapability(cap), AGP_NO_ADAPTER);
    EXPECT_EQ(Bus().CountConfigReads(), 8192u);
    EXPECT_EQ(Bus().Accesses().size(), 2u * 8192);
}

TEST_F(CapabilityReadTest, KindSevenReadsTheChipset)
{
    Bus().LoadFile(MachinePath("agp2x-classic.txt"));
    AgpCapability viaSeven = Filled();
    AgpCapability viaChipset = Filled();
    EXPECT_EQ(ReadAgpCapability(static_cast<AgpFunctionKind>(7), viaSeven), AGP_OK);
    EXPECT_EQ(ReadChipsetCapability(viaChipset), AGP_OK);
    EXPECT_TRUE(SameBytes(viaSeven, viaChipset));
    EXPECT_EQ(viaSeven.capOffset, 0xA0u);
}

TEST_F(CapabilityReadTest, EveryReadScansAgainAndFindsWhatIsThereNow)
{
    Load({AgpAdapter(2, 0, 0)});
    AgpCapability cap = Filled();
    EXPECT_EQ(ReadAdapterCapability(cap), AGP_OK);
    const size_t firstReads = Bus().CountConfigReads();
    EXPECT_EQ(cap.bus, 2);

    Bus().ClearAccesses();
    EXPECT_EQ(ReadAdapterCapability(cap), AGP_OK);
    EXPECT_EQ(Bus().CountConfigReads(), firstReads);  // the same full scan again

    // An adapter that appears earlier on the bus is the one read next time.
    Load({AgpAdapter(2, 0, 0), AgpAdapter(1, 4, 0, 0x0203, 0x0002)});
    EXPECT_EQ(ReadAdapterCapability(cap), AGP_OK);
    EXPECT_EQ(cap.bus, 1);
    EXPECT_EQ(cap.devFn, DevFn(4, 0));
    EXPECT_EQ(cap.command, 0x0002u);
}

// Calls `change` once, right after the scan has read the class register of
// the function at bus/devFn: between the scan and the read's own walk.
void ChangeAfterScan(uint32_t bus, uint32_t devFn, std::function<void()> change)
{
    const uint32_t classAddress = PciConfigAddress(bus, devFn, kPciClassRegister);
    auto done = std::make_shared<bool>(false);
    Bus().onAccess = [classAddress, change, done](const PortAccess& access) {
        if (!*done && !access.write && access.port == kPciConfigDataPort &&
            Bus().Machine().addressLatch == classAddress) {
            *done = true;
            change();
        }
    };
}

TEST_F(CapabilityReadTest, ListChangedAfterTheScanGivesNoCapability)
{
    struct Case {
        const char* what;
        Fn function;
        std::function<void()> change;
        uint32_t capOffset;
        uint16_t capId;
        size_t readHeaders;
    } cases[] = {
        {"only header no longer AGP",
         Fn(0, 1, 0).Class(0x0300).CapList(0x40).Agp(0x40, 0, 3, 1),
         [] { Bus().SetConfig(0, DevFn(1, 0), 0x40, 0x00100001); }, 0x40, 1, 1},
        {"list cut before the AGP header",
         Fn(0, 1, 0).Class(0x0300).CapList(0x50).Cap(0x50, 1, 0x60).Cap(0x60, 9, 0x40)
             .Agp(0x40, 0, 3, 1),
         [] { Bus().SetConfig(0, DevFn(1, 0), 0x60, 0x00000009); }, 0x60, 9, 2},
        {"list turned into a cycle",
         Fn(0, 1, 0).Class(0x0300).CapList(0x50).Cap(0x50, 1, 0x60).Cap(0x60, 9, 0x40)
             .Agp(0x40, 0, 3, 1),
         [] { Bus().SetConfig(0, DevFn(1, 0), 0x60, 0x00005009); }, 0x60, 9, 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Load({c.function});
        ChangeAfterScan(0, DevFn(1, 0), c.change);
        AgpCapability cap = Filled();
        EXPECT_EQ(ReadAdapterCapability(cap), AGP_NO_CAPABILITY);
        EXPECT_EQ(cap.bus, 0);
        EXPECT_EQ(cap.devFn, DevFn(1, 0));
        EXPECT_EQ(cap.capOffset, c.capOffset);
        EXPECT_EQ(cap.capId, c.capId);
        EXPECT_EQ(cap.nextPtr, 0);
        EXPECT_EQ(cap.majorRev, 0xA5A5);
        EXPECT_EQ(cap.minorRev, 0xA5A5);
        EXPECT_EQ(cap.status, 0xA5A5A5A5u);
        EXPECT_EQ(cap.command, 0xA5A5A5A5u);

        // After the class read: register 0x34, then the headers; no status
        // or command read.
        const std::vector<uint32_t> reads = ReadAddresses();
        const auto classRead = std::find(reads.begin(), reads.end(), 0x80000808u);
        ASSERT_NE(classRead, reads.end());
        EXPECT_EQ(static_cast<size_t>(reads.end() - classRead), 1 + 1 + c.readHeaders);
        EXPECT_EQ(*(classRead + 1), 0x80000834u);
    }
}

}  // namespace
