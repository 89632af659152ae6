// The verdict on the parties that the hardware core finds on the simulated
// bus, at start-up and after Set Mode (selection, write, refresh), as the
// program runs them.
#include <gtest/gtest.h>

#include "agp.h"
#include "agp_functions.h"
#include "link_verdict.h"
#include "sim_bus.h"

namespace {

struct Parties {
    AgpCapability chipset, adapter;
};

AgpParty PartyOf(const char* role, const AgpCapability& cap)
{
    return {AgpPartyLabel(role, cap.bus, cap.devFn), cap.majorRev, cap.status, cap.command};
}

AgpLinkVerdict Verdict(const Parties& p)
{
    return JudgeAgpLink(PartyOf("chipset", p.chipset), PartyOf("adapter", p.adapter));
}

// The program's start-up on a machine file: both parties found, and AGP
// not disabled by the chipset.
Parties StartUp(const std::string& file)
{
    SimBus::Instance().LoadFile(std::string(LUMBREL_MACHINES_DIR) + "/" + file);
    Parties p = {};
    EXPECT_EQ(ReadChipsetCapability(p.chipset), AGP_OK);
    EXPECT_EQ(ReadAdapterCapability(p.adapter), AGP_OK);
    EXPECT_FALSE(IsAgpDisabledByChipset(p.chipset));
    RefreshAgpStatus(p.chipset, p.adapter);
    return p;
}

void SetMode(Parties& p, RateRequest rate, AddressingRequest addressing)
{
    EXPECT_TRUE(SelectAgpMode(rate, addressing, p.chipset, p.adapter));
    WriteAgpCommands(p.chipset, p.adapter);
    RefreshAgpStatus(p.chipset, p.adapter);
}

std::vector<std::string> ProblemLines(const AgpLinkVerdict& verdict)
{
    std::vector<std::string> lines;
    for (const AgpLinkProblem& p : verdict.problems) lines.push_back(FormatAgpLinkProblem(p));
    return lines;
}

// What the machine's list shows for a party is what the core read.
void ExpectListed(const AgpCapability& cap, uint16_t classCode)
{
    bool found = false;
    for (const AgpFunctionInfo& info : ListAgpFunctions(SimBus::Instance().Machine())) {
        if (info.bus != cap.bus || info.devFn != cap.devFn) continue;
        found = true;
        EXPECT_EQ(info.classCode, classCode);
        EXPECT_EQ(info.capOffset, cap.capOffset);
        EXPECT_EQ(info.major, cap.majorRev);
        EXPECT_EQ(info.status, cap.status);
        EXPECT_EQ(info.command, cap.command);
    }
    EXPECT_TRUE(found);
}

class LinkEndToEndTest : public ::testing::Test {
protected:
    void TearDown() override { SimBus::Instance().Empty(); }
};

TEST_F(LinkEndToEndTest, ClassicMachineAfter2xAndSbaIsConsistent)
{
    Parties p = StartUp("agp2x-classic.txt");
    EXPECT_EQ(FormatAgpLinkSummary(Verdict(p)),
              "consistent (AGP 2.0 mode, 1x, SBA off, fast writes off)");

    SetMode(p, RATE_2X, ADDR_SBA);
    EXPECT_EQ(p.chipset.command, 0x00000302u);
    EXPECT_EQ(p.adapter.command, 0x1f000302u);
    const AgpLinkVerdict after = Verdict(p);
    EXPECT_EQ(ProblemLines(after), std::vector<std::string>{});
    EXPECT_EQ(FormatAgpLinkSummary(after),
              "consistent (AGP 2.0 mode, 2x, SBA on, fast writes off)");
    ExpectListed(p.chipset, 0x0600);
    ExpectListed(p.adapter, 0x0300);
}

TEST_F(LinkEndToEndTest, Agp3ChipsetAt4xAfter1xAndPipeKeepsTwoRateBits)
{
    Parties p = StartUp("agp3-chipset-4x.txt");
    EXPECT_EQ(p.chipset.majorRev, 3);
    EXPECT_EQ(p.adapter.majorRev, 2);
    const AgpLinkVerdict before = Verdict(p);
    EXPECT_EQ(FormatAgpLinkSummary(before),
              "consistent (AGP 2.0 mode, 4x, SBA on, fast writes off)");

    SetMode(p, RATE_1X, ADDR_PIPE);
    const AgpLinkVerdict after = Verdict(p);
    EXPECT_FALSE(after.agp3Mode);
    EXPECT_EQ(ProblemLines(after),
              (std::vector<std::string>{
                  "chipset 00:00.0: more than one rate bit: Command: RQ=1 ArqSz=0 Cal=0 SBA- AGP+ "
                  "GART64- 64bit- FW- Rate=x1,x4",
                  "adapter 01:00.0: more than one rate bit: Command: RQ=32 ArqSz=0 Cal=0 SBA- AGP+ "
                  "GART64- 64bit- FW- Rate=x1,x4"}));
    // Both came with Set Mode.
    for (const AgpLinkProblem& problem : after.problems)
        EXPECT_FALSE(HasAgpLinkProblem(before, problem));
    ExpectListed(p.chipset, 0x0600);
    ExpectListed(p.adapter, 0x0300);
}

}  // namespace
