// IsAgpDisabledByChipset: the vendor-0x5A17 family and its register 0xAC.
#include "hw_test_util.h"

namespace {

using ChipsetTest = HwTest;

TEST_F(ChipsetTest, RegisterAcDecidesOnlyForTheFamily)
{
    struct Case {
        uint32_t id;
        uint32_t ac;
        bool disabled;
        bool readsAc;
    } cases[] = {
        {0x3C915A17, 0x00000000, true, true},
        {0x3C935A17, 0x00000000, true, true},
        {0x3C915A17, 0xFFFFFFFE, true, true},   // only bit 0 counts
        {0x3C935A17, 0x00000001, false, true},
        {0x3C915A17, 0x00000003, false, true},
        {0x3C925A17, 0x00000000, false, false},  // other device of the vendor
        {0x00005A17, 0x00000000, false, false},
        {0x3C918086, 0x00000000, false, false},  // same device ID, other vendor
        {0x71908086, 0x00000000, false, false},
        {0x5A173C91, 0x00000000, false, false},  // halves swapped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << "id " << c.id << " ac " << c.ac);
        Load({AgpChipset(2, 3, 1).Set(0x00, c.id).Set(0xAC, c.ac)});
        // Only bus and devFn of the record are used.
        AgpCapability chipset = Filled(0x5A);
        chipset.bus = 2;
        chipset.devFn = static_cast<uint16_t>(DevFn(3, 1));
        EXPECT_EQ(IsAgpDisabledByChipset(chipset), c.disabled);

        std::vector<uint32_t> expected = {0x80021900};
        if (c.readsAc) expected.push_back(0x800219AC);
        EXPECT_EQ(ReadAddresses(), expected);
        EXPECT_TRUE(ConfigWrites().empty());
    }
}

TEST_F(ChipsetTest, MachineFiles)
{
    struct Case {
        const char* file;
        bool disabled;
    } cases[] = {
        {"chipset-5a17-agp-off.txt", true},
        {"chipset-5a17-agp-on.txt", false},
        {"agp2x-classic.txt", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Bus().LoadFile(MachinePath(c.file));
        AgpCapability chipset = Filled();
        AgpCapability adapter = Filled();
        ASSERT_EQ(ReadChipsetCapability(chipset), AGP_OK);
        ASSERT_EQ(ReadAdapterCapability(adapter), AGP_OK);
        EXPECT_EQ(IsAgpDisabledByChipset(chipset), c.disabled);
    }
}

}  // namespace
