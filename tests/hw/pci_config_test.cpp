// PCI configuration access: the address formed, the port sequence, and
// what comes back.
#include "hw_test_util.h"

namespace {

class PciConfigTest : public HwTest {
protected:
    void SetUp() override
    {
        HwTest::SetUp();
        // Each dword of these functions holds a value that names it.
        Fn bus0(0, 0, 0, 0x00000001);
        Fn bus1(1, 0, 0, 0x10000001);
        Fn busFF(0xFF, 1, 0, 0xFF080001);
        for (uint32_t reg = 4; reg < 256; reg += 4) {
            bus0.Set(reg, 0x00000000 | reg << 8 | 0xA0);
            bus1.Set(reg, 0x10000000 | reg << 8 | 0xB0);
            busFF.Set(reg, 0xFF080000 | reg << 8 | 0xC0);
        }
        Load({bus0, bus1, busFF});
    }
};

TEST_F(PciConfigTest, AddressFormulaAndWrapArounds)
{
    struct Case {
        uint32_t bus, devFn, reg;
        uint32_t address;  // written to 0xCF8
        uint32_t value;    // returned
    } cases[] = {
        {0, 0, 0x34, 0x80000034, 0x000034A0},
        {0, 0, 0x35, 0x80000034, 0x000034A0},    // the whole dword, not shifted
        {0, 0, 0x36, 0x80000034, 0x000034A0},
        {0, 0, 0x37, 0x80000034, 0x000034A0},
        {0, 0, 0x100, 0x80000000, 0x00000001},   // past 0xFF: register 0x00
        {0, 0, 0x10C, 0x8000000C, 0x00000CA0},   // register 0x0C of the same function
        {0, 0, 0xFFFFFFFF, 0x800000FC, 0x0000FCA0},
        {1, 0, 0x44, 0x80010044, 0x100044B0},
        {0x101, 0, 0x44, 0x80010044, 0x100044B0},
        {0x1FF, 0x108, 0x10, 0x80FF0810, 0xFF0810C0},  // bus 0xFF, device 1 function 0
        {0xFF, 0x08, 0x00, 0x80FF0800, 0xFF080001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << "bus " << c.bus << " devFn " << c.devFn
                                          << " reg " << c.reg);
        Bus().ClearAccesses();
        EXPECT_EQ(PciConfigRead(c.bus, c.devFn, c.reg), c.value);
        const std::vector<PortAccess> expected = {{true, 0xCF8, c.address},
                                                  {false, 0xCFC, c.value}};
        EXPECT_EQ(Bus().Accesses(), expected);
        EXPECT_EQ(Bus().Machine().addressLatch, c.address);
    }
}

TEST_F(PciConfigTest, ReadIsOneAddressWriteAndOneDataReadAndTheAddressStays)
{
    EXPECT_EQ(PciConfigRead(1, 0, 0x44), 0x100044B0u);
    const std::vector<PortAccess> expected = {{true, 0xCF8, 0x80010044},
                                              {false, 0xCFC, 0x100044B0}};
    EXPECT_EQ(Bus().Accesses(), expected);
    EXPECT_EQ(Bus().Machine().addressLatch, 0x80010044u);
}

TEST_F(PciConfigTest, AddressIsWrittenOnEveryCall)
{
    PciConfigRead(1, 0, 0x44);
    PciConfigRead(1, 0, 0x44);
    PciConfigWrite(1, 0, 0x44, 5);
    PciConfigWrite(1, 0, 0x44, 6);
    const std::vector<PortAccess> expected = {
        {true, 0xCF8, 0x80010044}, {false, 0xCFC, 0x100044B0},
        {true, 0xCF8, 0x80010044}, {false, 0xCFC, 0x100044B0},
        {true, 0xCF8, 0x80010044}, {true, 0xCFC, 5},
        {true, 0xCF8, 0x80010044}, {true, 0xCFC, 6},
    };
    EXPECT_EQ(Bus().Accesses(), expected);
}

TEST_F(PciConfigTest, WriteIsOneAddressWriteAndOneWholeDwordAtTheDataPort)
{
    PciConfigWrite(0x1FF, 0x108, 0x4B, 0xDEADBEEF);
    const std::vector<PortAccess> expected = {{true, 0xCF8, 0x80FF0848},
                                              {true, 0xCFC, 0xDEADBEEF}};
    EXPECT_EQ(Bus().Accesses(), expected);
    EXPECT_EQ(Bus().Machine().addressLatch, 0x80FF0848u);
    EXPECT_EQ(Bus().Config(0xFF, 0x08, 0x48), 0xDEADBEEFu);
    // Neighbours untouched.
    EXPECT_EQ(Bus().Config(0xFF, 0x08, 0x44), 0xFF0844C0u);
    EXPECT_EQ(Bus().Config(0xFF, 0x08, 0x4C), 0xFF084CC0u);
}

TEST_F(PciConfigTest, AbsentFunctionReadsAllOnes)
{
    EXPECT_EQ(PciConfigRead(2, DevFn(3, 1), 0x00), 0xFFFFFFFFu);
    EXPECT_EQ(PciConfigRead(0, DevFn(0, 1), 0x08), 0xFFFFFFFFu);
    EXPECT_EQ(Bus().Accesses().size(), 4u);
}

}  // namespace
