// The verdict on link states: status and command pairs of both parties in
// both modes, with the problems each must give, in order.
#include <gtest/gtest.h>

#include "link_verdict.h"

namespace {

// AGP 2.0 status: RQ=32, SBA, fast writes, 1x 2x 4x.
const uint32_t kStatus2 = 0x1f000217;
// AGP 3.0 status (version 3): RQ=32, SBA, fast writes, AGP3, 4x 8x.
const uint32_t kStatus3 = 0x1f00021b;

struct Register {
    unsigned major;
    uint32_t status, command;
};

struct Expected {
    const char* party;  // "chipset" or "adapter"
    const char* words;
};

struct LinkCase {
    const char* name;
    Register chipset, adapter;
    bool agp3Mode;
    std::vector<Expected> problems;
};

const LinkCase kCases[] = {
    {"AGP 2.0 at 2x with SBA", {2, kStatus2, 0x00000302}, {2, kStatus2, 0x1f000302}, false, {}},
    {"AGP 3.0 at 8x with SBA", {3, kStatus3, 0x00000302}, {3, kStatus3, 0x1f000302}, true, {}},
    {"AGP 3.0 at 4x with fast writes: bit 0 is no 1x there",
     {3, kStatus3, 0x00000311}, {3, kStatus3, 0x1f000311}, true, {}},
    {"both off, as before a driver", {2, kStatus2, 0}, {2, kStatus2, 0}, false,
     {{"chipset", "AGP is off"}, {"adapter", "AGP is off"}}},
    {"chipset off, adapter on", {2, kStatus2, 0}, {2, kStatus2, 0x1f000102}, false,
     {{"chipset", "AGP is off"}, {"adapter", "parties disagree on AGP enable"}}},
    {"adapter off, bits still judged", {2, 0x07000203, 0x00000102}, {2, kStatus2, 0x1f000004},
     false,
     {{"adapter", "AGP is off"},
      {"adapter", "parties disagree on AGP enable"},
      {"adapter", "rates differ"},
      {"adapter", "rate not supported by both"},
      {"adapter", "request queue deeper than the chipset's"}}},
    {"enabled without a rate", {2, kStatus2, 0x00000102}, {2, kStatus2, 0x1f000100}, false,
     {{"adapter", "no rate bit"}}},
    {"AGP 3.0 chipset left at 4x after 1x: two rate bits on both",
     {3, 0x1f000217, 0x00000105}, {2, 0x1f000217, 0x1f000105}, false,
     {{"chipset", "more than one rate bit"}, {"adapter", "more than one rate bit"}}},
    {"rates differ", {2, kStatus2, 0x00000101}, {2, kStatus2, 0x1f000102}, false,
     {{"adapter", "rates differ"}}},
    {"rates differ in AGP 3.0 mode", {3, kStatus3, 0x00000301}, {3, kStatus3, 0x1f000302}, true,
     {{"adapter", "rates differ"}}},
    {"4x that the chipset lacks", {2, 0x1f000203, 0x00000104}, {2, kStatus2, 0x1f000104}, false,
     {{"chipset", "rate not supported by both"}, {"adapter", "rate not supported by both"}}},
    {"only one status says AGP 3.0: bit 2 is 4x, not reserved",
     {3, kStatus3, 0x00000104}, {2, kStatus2, 0x1f000104}, false,
     {{"chipset", "rate not supported by both"}, {"adapter", "rate not supported by both"}}},
    {"reserved bit beside 8x", {3, kStatus3, 0x00000306}, {3, kStatus3, 0x1f000302}, true,
     {{"chipset", "reserved rate bit"}}},
    {"reserved bit alone", {3, kStatus3, 0x00000304}, {3, kStatus3, 0x1f000302}, true,
     {{"chipset", "no rate bit"}, {"chipset", "reserved rate bit"}}},
    {"SBA on, chipset lacks it", {2, 0x1f000017, 0x00000302}, {2, kStatus2, 0x1f000302}, false,
     {{"chipset", "SBA not supported by both"}, {"adapter", "SBA not supported by both"}}},
    {"SBA off in AGP 3.0 mode", {3, kStatus3, 0x00000102}, {3, kStatus3, 0x1f000102}, true,
     {{"chipset", "SBA off in AGP 3.0 mode"}, {"adapter", "SBA off in AGP 3.0 mode"}}},
    {"SBA off in AGP 3.0 mode on a party that is off", {3, kStatus3, 0x00000002},
     {3, kStatus3, 0x1f000302}, true,
     {{"chipset", "AGP is off"}, {"adapter", "parties disagree on AGP enable"}}},
    {"SBA off in AGP 2.0 mode is fine", {2, kStatus2, 0x00000102}, {2, kStatus2, 0x1f000102},
     false, {}},
    {"fast writes, adapter lacks them", {2, kStatus2, 0x00000312}, {2, 0x1f000207, 0x1f000312},
     false,
     {{"chipset", "fast writes not supported by both"},
      {"adapter", "fast writes not supported by both"}}},
    {"fast writes at 1x", {2, kStatus2, 0x00000311}, {2, kStatus2, 0x1f000311}, false,
     {{"chipset", "fast writes at 1x"}, {"adapter", "fast writes at 1x"}}},
    {"fast writes with 1x among other rate bits", {2, kStatus2, 0x00000315},
     {2, kStatus2, 0x1f000315}, false,
     {{"chipset", "more than one rate bit"},
      {"adapter", "more than one rate bit"},
      {"chipset", "fast writes at 1x"},
      {"adapter", "fast writes at 1x"}}},
    {"adapter queue deeper than the chipset's", {2, 0x07000217, 0x00000302},
     {2, kStatus2, 0x08000302}, false, {{"adapter", "request queue deeper than the chipset's"}}},
    {"adapter queue as deep as the chipset's", {2, 0x07000217, 0x00000302},
     {2, kStatus2, 0x07000302}, false, {}},
    {"everything at once, in order", {2, 0x00000001, 0x00000016}, {2, kStatus2, 0x1f000313},
     false,
     {{"chipset", "AGP is off"},
      {"adapter", "parties disagree on AGP enable"},
      {"chipset", "more than one rate bit"},
      {"adapter", "more than one rate bit"},
      {"adapter", "rates differ"},
      {"chipset", "rate not supported by both"},
      {"adapter", "rate not supported by both"},
      {"adapter", "SBA not supported by both"},
      {"chipset", "fast writes not supported by both"},
      {"adapter", "fast writes not supported by both"},
      {"adapter", "fast writes at 1x"},
      {"adapter", "request queue deeper than the chipset's"}}},
};

AgpParty Party(const char* role, unsigned bus, const Register& r)
{
    return {AgpPartyLabel(role, bus, 0), r.major, r.status, r.command};
}

AgpLinkVerdict Judge(const Register& chipset, const Register& adapter)
{
    return JudgeAgpLink(Party("chipset", 0, chipset), Party("adapter", 1, adapter));
}

TEST(LinkVerdictTest, TableOfLinkStates)
{
    for (const LinkCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const AgpLinkVerdict verdict = Judge(c.chipset, c.adapter);
        EXPECT_EQ(verdict.agp3Mode, c.agp3Mode);
        std::vector<std::string> got, want;
        for (const AgpLinkProblem& p : verdict.problems) got.push_back(p.party + ": " + p.words);
        for (const Expected& e : c.problems)
            want.push_back(std::string(e.party) + (e.party[0] == 'c' ? " 00:00.0" : " 01:00.0") +
                           ": " + e.words);
        EXPECT_EQ(got, want);
        EXPECT_EQ(verdict.Consistent(), c.problems.empty());
    }
}

TEST(LinkVerdictTest, ProblemLinesNameTheRegisterInLspciWords)
{
    const AgpLinkVerdict verdict =
        Judge({2, 0x07000013, 0x00000101}, {2, kStatus2, 0x1f000316});
    std::vector<std::string> lines;
    for (const AgpLinkProblem& p : verdict.problems) lines.push_back(FormatAgpLinkProblem(p));
    const std::string adapter =
        "adapter 01:00.0: %s: Command: RQ=32 ArqSz=0 Cal=0 SBA+ AGP+ GART64- 64bit- FW+ Rate=x2,x4";
    auto line = [&](const char* words, const char* note) {
        char text[256];
        std::snprintf(text, sizeof text, adapter.c_str(), words);
        return std::string(text) + (*note ? std::string(" (") + note + ")" : "");
    };
    EXPECT_EQ(lines, (std::vector<std::string>{
                         line("more than one rate bit", ""),
                         line("rates differ", "chipset 00:00.0 Command: Rate=x1"),
                         line("rate not supported by both", "chipset 00:00.0 Status: Rate=x1,x2"),
                         line("SBA not supported by both", "chipset 00:00.0 Status: SBA-"),
                         line("request queue deeper than the chipset's",
                              "chipset 00:00.0 Status: RQ=8"),
                     }));
    EXPECT_EQ(FormatAgpLinkSummary(verdict), "5 problems (AGP 2.0 mode)");

    // A status that lacks the bit on the party's own side is named too.
    const AgpLinkVerdict both = Judge({2, 0x1f000007, 0x00000112}, {2, 0x1f000207, 0x1f000112});
    ASSERT_EQ(both.problems.size(), 2u);
    EXPECT_EQ(both.problems[0].note,
              "chipset 00:00.0 Status: FW-; adapter 01:00.0 Status: FW-");
}

TEST(LinkVerdictTest, SummaryOfAConsistentLinkSaysHowItRuns)
{
    EXPECT_EQ(FormatAgpLinkSummary(Judge({2, kStatus2, 0x00000302}, {2, kStatus2, 0x1f000302})),
              "consistent (AGP 2.0 mode, 2x, SBA on, fast writes off)");
    EXPECT_EQ(FormatAgpLinkSummary(Judge({3, kStatus3, 0x00000312}, {3, kStatus3, 0x1f000312})),
              "consistent (AGP 3.0 mode, 8x, SBA on, fast writes on)");
    EXPECT_EQ(FormatAgpLinkSummary(Judge({2, kStatus2, 0x00000104}, {2, kStatus2, 0x1f000104})),
              "consistent (AGP 2.0 mode, 4x, SBA off, fast writes off)");
    EXPECT_EQ(FormatAgpLinkSummary(Judge({2, kStatus2, 0x00000102}, {2, kStatus2, 0x1f000100})),
              "1 problem (AGP 2.0 mode)");
}

TEST(LinkVerdictTest, ProblemsBeforeAndAfterAChange)
{
    // Set Mode picks 1x on a link with a leftover 4x bit: the adapter's
    // queue problem was there before; the two rate problems come with it.
    const AgpLinkVerdict before = Judge({3, 0x07000217, 0x00000104}, {2, kStatus2, 0x1f000104});
    const AgpLinkVerdict after = Judge({3, 0x07000217, 0x00000105}, {2, kStatus2, 0x1f000105});
    ASSERT_EQ(before.problems.size(), 1u);
    ASSERT_EQ(after.problems.size(), 3u);
    EXPECT_EQ(after.problems[2].words, "request queue deeper than the chipset's");
    EXPECT_NE(after.problems[2].detail, before.problems[0].detail);
    EXPECT_TRUE(HasAgpLinkProblem(before, after.problems[2]));
    EXPECT_FALSE(HasAgpLinkProblem(before, after.problems[0]));
    EXPECT_FALSE(HasAgpLinkProblem(before, after.problems[1]));
    EXPECT_FALSE(SameAgpLinkProblem(after.problems[0], after.problems[1]));
}

}  // namespace
