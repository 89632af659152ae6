// The simulated host bridge: mechanism #1 decoding of 0xCF8/0xCFC over the
// functions of a machine.
#include <memory>

#include "hw_test_util.h"
#include "pci_machine.h"
#include "port_io.h"

namespace {

using PciMachineTest = HwTest;

void LoadTwoFunctions()
{
    Load({Fn(0, 0, 0, 0x71908086).Set(0x44, 0x11223344), Fn(3, 2, 5, 0x002810DE)});
}

TEST_F(PciMachineTest, DataPortServesTheLatchedDword)
{
    LoadTwoFunctions();
    PortOut32(0xCF8, 0x80000044);
    EXPECT_EQ(PortIn32(0xCFC), 0x11223344u);
    PortOut32(0xCF8, 0x80000047);  // bits 1-0 of the latch are not part of the register
    EXPECT_EQ(PortIn32(0xCFC), 0x11223344u);
    PortOut32(0xCF8, 0x80031500);
    EXPECT_EQ(PortIn32(0xCFC), 0x002810DEu);
    EXPECT_EQ(PortIn32(0xCF8), 0x80031500u);  // the latch reads back
}

TEST_F(PciMachineTest, EnableBitClearReadsAllOnesAndDropsWrites)
{
    LoadTwoFunctions();
    PortOut32(0xCF8, 0x00000044);
    EXPECT_EQ(PortIn32(0xCFC), 0xFFFFFFFFu);
    PortOut32(0xCFC, 0xCAFEF00D);
    EXPECT_EQ(Bus().Config(0, 0, 0x44), 0x11223344u);
    PortOut32(0xCF8, 0x80000044);
    EXPECT_EQ(PortIn32(0xCFC), 0x11223344u);
}

TEST_F(PciMachineTest, AbsentFunctionsReadAllOnesAndIgnoreWrites)
{
    LoadTwoFunctions();
    for (uint32_t address : {0x80000100u, 0x80010000u, 0x80FFFF00u, 0x80030000u}) {
        PortOut32(0xCF8, address);
        EXPECT_EQ(PortIn32(0xCFC), 0xFFFFFFFFu) << std::hex << address;
        PortOut32(0xCFC, 0);
        EXPECT_EQ(PortIn32(0xCFC), 0xFFFFFFFFu) << std::hex << address;
        EXPECT_FALSE(PciMachineHasFunction(Bus().Machine(), (address >> 16) & 0xFF,
                                           (address >> 8) & 0xFF));
    }
    EXPECT_TRUE(PciMachineHasFunction(Bus().Machine(), 3, DevFn(2, 5)));
}

TEST_F(PciMachineTest, WritesStoreWholeDwords)
{
    LoadTwoFunctions();
    PortOut32(0xCF8, 0x80000046);
    PortOut32(0xCFC, 0xA1B2C3D4);
    EXPECT_EQ(Bus().Config(0, 0, 0x44), 0xA1B2C3D4u);
    EXPECT_EQ(Bus().Config(0, 0, 0x40), 0u);
    EXPECT_EQ(Bus().Config(0, 0, 0x48), 0u);
    // The other function is untouched.
    EXPECT_EQ(Bus().Config(3, DevFn(2, 5), 0x44), 0u);
}

TEST_F(PciMachineTest, OtherPortsAreNotDecoded)
{
    LoadTwoFunctions();
    PortOut32(0xCF8, 0x80000044);
    for (uint16_t port : {0xCF9, 0xCFA, 0xCFD, 0xCFE, 0x80}) {
        PortOut32(port, 0);
        EXPECT_EQ(PortIn32(port), 0xFFFFFFFFu) << port;
    }
    EXPECT_EQ(PortIn32(0xCF8), 0x80000044u);
    EXPECT_EQ(Bus().Config(0, 0, 0x44), 0x11223344u);
}

TEST_F(PciMachineTest, LogRecordsEveryAccessInOrder)
{
    LoadTwoFunctions();
    PortOut32(0xCF8, 0x80000000);
    PortIn32(0xCFC);
    PortOut32(0xCFC, 7);
    PortIn32(0xCF8);
    const std::vector<PortAccess> expected = {{true, 0xCF8, 0x80000000},
                                              {false, 0xCFC, 0x71908086},
                                              {true, 0xCFC, 7},
                                              {false, 0xCF8, 0x80000000}};
    EXPECT_EQ(Bus().Accesses(), expected);
    const std::vector<ConfigWrite> writes = {{0x80000000, 7}};
    EXPECT_EQ(ConfigWrites(), writes);
}

TEST(PciMachineBuildTest, HoldsUpTo512Functions)
{
    auto machine = std::make_unique<PciMachine>();
    std::vector<PciDumpFunction> functions;
    for (unsigned i = 0; i < kMaxMachineFunctions; ++i)
        functions.push_back(Fn(i >> 8, (i & 0xFF) >> 3, i & 7, 0x10000 + i));
    std::string error;
    ASSERT_TRUE(BuildPciMachine(functions, *machine, error)) << error;
    EXPECT_EQ(machine->functionCount, kMaxMachineFunctions);
    EXPECT_EQ(machine->addressLatch, 0u);
    EXPECT_EQ(PciMachineReadConfig(*machine, 1, 0xFF, 0), 0x10000u + 511);

    functions.push_back(Fn(2, 0, 0));
    EXPECT_FALSE(BuildPciMachine(functions, *machine, error));
    EXPECT_NE(error.find("513"), std::string::npos) << error;
}

}  // namespace
