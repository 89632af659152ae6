// What the list of AGP capabilities holds and how agpvm shows it, on the
// classic machine; the words themselves are checked against lspci elsewhere.
#include <gtest/gtest.h>

#include <memory>

#include "agp_functions.h"
#include "agp_words.h"

namespace {

std::string ClassicPath() { return std::string(LUMBREL_MACHINES_DIR) + "/agp2x-classic.txt"; }

TEST(AgpFunctionsTest, ClassicMachineHoldsBothParties)
{
    std::vector<PciDumpFunction> functions;
    std::string error;
    ASSERT_TRUE(LoadPciDumpFile(ClassicPath(), functions, error)) << error;
    std::unique_ptr<PciMachine> machine(new PciMachine);
    ASSERT_TRUE(BuildPciMachine(functions, *machine, error)) << error;

    const std::vector<AgpFunctionInfo> list = ListAgpFunctions(*machine);
    ASSERT_EQ(list.size(), 2u);
    struct Expected {
        uint8_t bus, devFn;
        uint16_t classCode;
        uint8_t capOffset, major, minor;
        uint32_t status, command;
    };
    const Expected expected[] = {{0, 0x00, 0x0600, 0xa0, 1, 0, 0x1f000203, 0x00000101},
                                 {1, 0x00, 0x0300, 0x44, 2, 0, 0x1f000203, 0x1f000101}};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(list[i].bus, expected[i].bus);
        EXPECT_EQ(list[i].devFn, expected[i].devFn);
        EXPECT_EQ(list[i].classCode, expected[i].classCode);
        EXPECT_EQ(list[i].capOffset, expected[i].capOffset);
        EXPECT_EQ(list[i].major, expected[i].major);
        EXPECT_EQ(list[i].minor, expected[i].minor);
        EXPECT_TRUE(list[i].registersShown);
        EXPECT_EQ(list[i].status, expected[i].status);
        EXPECT_EQ(list[i].command, expected[i].command);
    }

    EXPECT_EQ(FormatAgpFunctions(list),
              "00:00.0 class 0600 AGP capability at a0: AGP version 1.0\n"
              "  Status: RQ=32 Iso- ArqSz=0 Cal=0 SBA+ ITACoh- GART64- HTrans- 64bit- FW- AGP3- "
              "Rate=x1,x2\n"
              "  Command: RQ=1 ArqSz=0 Cal=0 SBA- AGP+ GART64- 64bit- FW- Rate=x1\n"
              "01:00.0 class 0300 AGP capability at 44: AGP version 2.0\n"
              "  Status: RQ=32 Iso- ArqSz=0 Cal=0 SBA+ ITACoh- GART64- HTrans- 64bit- FW- AGP3- "
              "Rate=x1,x2\n"
              "  Command: RQ=32 ArqSz=0 Cal=0 SBA- AGP+ GART64- 64bit- FW- Rate=x1\n");
}

// A function of a dump that holds bytes beyond those it gives (a reader
// may keep them): the walk reads none of them.
PciDumpFunction WithAgpAt(uint8_t offset, unsigned bytesGiven)
{
    PciDumpFunction f;
    f.bus = 2;
    f.devFn = 0x08;
    f.bytesGiven = bytesGiven;
    f.config[0x06] = 0x10;
    f.config[0x0b] = 0x03;
    f.config[0x34] = offset;
    f.config[offset] = 2;
    f.config[offset + 2] = 0x30;
    f.config[offset + 4] = 0x0b;
    return f;
}

TEST(AgpFunctionsTest, OnlyTheBytesGivenAreRead)
{
    // The pointer register itself, or the header, lies beyond the bytes given.
    EXPECT_TRUE(ListAgpFunctions(std::vector<PciDumpFunction>{WithAgpAt(0x10, 0x30)}).empty());
    EXPECT_TRUE(ListAgpFunctions(std::vector<PciDumpFunction>{WithAgpAt(0xa0, 0xa0)}).empty());
    // The header is given, the command register at 0xa8 is not.
    const std::vector<AgpFunctionInfo> list =
        ListAgpFunctions(std::vector<PciDumpFunction>{WithAgpAt(0xa0, 0xa8)});
    ASSERT_EQ(list.size(), 1u);
    EXPECT_FALSE(list[0].registersShown);
    EXPECT_EQ(AgpFunctionLines(list[0]),
              std::vector<std::string>{"02:01.0 class 0300 AGP capability at a0: AGP version 3.0"});
    EXPECT_EQ(ListAgpFunctions(std::vector<PciDumpFunction>{WithAgpAt(0xa0, 0xb0)})[0].status,
              0x0bu);
}

// The two examples that users compare with, and the AGP 3.0 mode: status
// bit 3 names the rate bits x4, x8 only with version 3 or later.
TEST(AgpWordsTest, ExamplesAndTheAgp3Mode)
{
    EXPECT_EQ(AgpStatusWords(1, 0x1f000203),
              "RQ=32 Iso- ArqSz=0 Cal=0 SBA+ ITACoh- GART64- HTrans- 64bit- FW- AGP3- Rate=x1,x2");
    EXPECT_EQ(AgpCommandWords(1, 0x1f000203, 0x00000000),
              "RQ=1 ArqSz=0 Cal=0 SBA- AGP- GART64- 64bit- FW- Rate=<none>");
    struct Mode {
        unsigned major;
        uint32_t status, command;
        bool agp3;
        const char* rate;
    };
    const Mode modes[] = {{3, 0x0000000b, 0x00000003, true, "Rate=x4,x8"},
                          {3, 0x00000003, 0x00000003, false, "Rate=x1,x2"},
                          {2, 0x0000000b, 0x00000003, false, "Rate=x1,x2"},
                          {15, 0x0000000f, 0x00000007, true, "Rate=x4,x8,x16"}};
    for (const Mode& m : modes) {
        SCOPED_TRACE(m.rate);
        const std::string command = AgpCommandWords(m.major, m.status, m.command);
        EXPECT_EQ(command.substr(command.rfind(' ') + 1), m.rate);
        EXPECT_EQ(IsAgp3Mode(m.major, m.status), m.agp3);
    }
    EXPECT_EQ(AgpVersionWords(0xa, 0xb), "AGP version a.b");
}

}  // namespace
