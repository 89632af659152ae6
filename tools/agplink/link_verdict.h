// The verdict on an AGP link: given the AGP status and command registers
// of its two parties, the host bridge (chipset) and the display adapter,
// is the state they are in a valid one? Advice for the owner of the
// machine; nothing here touches hardware.
//
// The link runs in AGP 3.0 mode when both statuses say so (major version
// 3 or later with status bit 3), where command rate bit 0 means 4x, bit 1
// 8x and bit 2 is reserved; otherwise in AGP 2.0 mode, where bits 0, 1, 2
// mean 1x, 2x, 4x. The problems, in this order, each with fixed words:
//   "AGP is off"                   command bit 8 clear on a party; its
//                                  other bits are judged as they stand
//   "parties disagree on AGP enable"
//   "no rate bit"                  an enabled party selects no rate
//   "more than one rate bit"       two or more rate bits of the mode
//   "rates differ"                 the parties select different rates
//   "rate not supported by both"   a selected rate missing from a status
//   "reserved rate bit"            command bit 2 in AGP 3.0 mode
//   "SBA not supported by both"    command bit 9 set, a status lacks it
//   "SBA off in AGP 3.0 mode"      on an enabled party
//   "fast writes not supported by both"  command bit 4 set, a status lacks it
//   "fast writes at 1x"
//   "request queue deeper than the chipset's"  adapter command bits 31-24
//                                  above chipset status bits 31-24
// Rules the list above leaves open, decided so:
// - A problem between the two parties ("parties disagree on AGP enable",
//   "rates differ", "request queue deeper than the chipset's") is reported
//   once, on the adapter: the chipset is the side the adapter must follow.
//   Every other problem is reported on each party that has it, chipset
//   first.
// - Rate bits are those of the link's mode: in AGP 3.0 mode the reserved
//   bit 2 is no rate, so bit 2 alone gives "reserved rate bit" and, on an
//   enabled party, "no rate bit"; bits 0 and 2 are one rate bit.
// - "rates differ" only when each party selects at least one rate: a
//   party with none already has "no rate bit", or waits for a driver to
//   enable AGP, and calling its empty field a different rate says nothing.
// - "rate not supported by both" is one problem per party however many of
//   its rate bits are missing.
// - "fast writes at 1x" only in AGP 2.0 mode, where the 1x bit is set
//   (alone or among others: the link may then run at 1x). AGP 3.0 mode
//   has no 1x rate, so fast writes there are judged by support only.
// - Parties whose statuses disagree on AGP 3.0 mode are judged in AGP 2.0
//   mode; each register's own words still name its rate bits the way
//   lspci does, by its own status.
#ifndef LUMBREL_AGPLINK_LINK_VERDICT_H
#define LUMBREL_AGPLINK_LINK_VERDICT_H

#include <cstdint>
#include <string>
#include <vector>

// One party of the link as found on the bus.
struct AgpParty {
    std::string label;    // e.g. "chipset 00:00.0"
    unsigned major = 0;   // AGP capability major version
    uint32_t status = 0;  // AGP status register
    uint32_t command = 0; // AGP command register
};

// "chipset 00:00.0" for role "chipset", bus 0 and devFn 0.
std::string AgpPartyLabel(const std::string& role, unsigned bus, unsigned devFn);

struct AgpLinkProblem {
    std::string party;    // label of the party it is reported on
    std::string words;    // the fixed words, e.g. "more than one rate bit"
    std::string detail;   // that party's command in lspci's words, "Command: RQ=... Rate=x1,x4"
    std::string note;     // for a problem with the other side: what that side holds, in
                          // lspci's words, e.g. "chipset 00:00.0 Status: SBA-"; else empty
};

struct AgpLinkVerdict {
    bool agp3Mode = false;
    std::vector<AgpLinkProblem> problems;  // none: the link is consistent
    // For a consistent link, the rate both select ("2x", "8x") and whether SBA and
    // fast writes are on.
    std::string rate;
    bool sba = false;
    bool fastWrites = false;
    bool Consistent() const { return problems.empty(); }
};

AgpLinkVerdict JudgeAgpLink(const AgpParty& chipset, const AgpParty& adapter);

// "AGP 3.0 mode" or "AGP 2.0 mode".
std::string AgpLinkModeWords(bool agp3Mode);

// "consistent (AGP 2.0 mode, 2x, SBA on, fast writes off)" or
// "2 problems (AGP 2.0 mode)".
std::string FormatAgpLinkSummary(const AgpLinkVerdict& verdict);

// "adapter 01:00.0: rates differ: Command: RQ=32 ... Rate=x2 (chipset 00:00.0 Command: Rate=x1)"
std::string FormatAgpLinkProblem(const AgpLinkProblem& problem);

// The same problem of the same party: the words and the party agree, the
// register values may have changed. Tells a problem that was there before
// a change from one that came with it.
bool SameAgpLinkProblem(const AgpLinkProblem& a, const AgpLinkProblem& b);
bool HasAgpLinkProblem(const AgpLinkVerdict& verdict, const AgpLinkProblem& problem);

#endif
