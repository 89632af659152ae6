// The AGP side of agpvm's report: AGP functions, write checks, link verdict.
#include "vm_agp.h"

#include <cstdio>

#include "agp_functions.h"
#include "agp_words.h"
#include "link_parties.h"
#include "vm_run.h"

std::vector<std::string> MachineAgpLines(const PciMachine& machine)
{
    const std::vector<AgpFunctionInfo> functions = ListAgpFunctions(machine);
    char header[96];
    const unsigned count = machine.functionCount, agp = static_cast<unsigned>(functions.size());
    std::snprintf(header, sizeof header, "%u function%s, %u AGP capabilit%s", count,
                  count == 1 ? "" : "s", agp, agp == 1 ? "y" : "ies");
    std::vector<std::string> lines(1, header);
    for (const AgpFunctionInfo& f : functions)
        for (const std::string& line : AgpFunctionLines(f)) lines.push_back(line);
    return lines;
}

std::string ConfigWriteWords(const VmConfigWrite& write)
{
    char text[128];
    if (!(write.address & 0x80000000u))
        std::snprintf(text, sizeof text,
                      "configuration write with the enable bit clear (latch %08lx): %08lx dropped",
                      static_cast<unsigned long>(write.address),
                      static_cast<unsigned long>(write.newValue));
    else
        std::snprintf(text, sizeof text, "configuration write %s reg %02lx: %08lx -> %08lx",
                      ConfigLocation(write.address).c_str(),
                      static_cast<unsigned long>(write.address & 0xFC),
                      static_cast<unsigned long>(write.oldValue),
                      static_cast<unsigned long>(write.newValue));
    return text;
}

std::vector<std::string> ConfigWriteLines(const VmConfigWrite& write, const WriteCheck& check)
{
    if (!check.onAgpCommand)
        return {ConfigWriteWords(write) + ": not an AGP command register: " + check.problem};
    return {ConfigWriteWords(write), "    old " + check.oldWords, "    new " + check.newWords};
}

void ApplyConfigWrite(PciMachine& machine, const VmConfigWrite& write)
{
    uint32_t bus, devFn, reg;
    if (DecodeConfigAddress(write.address, bus, devFn, reg))
        PciMachineWriteConfig(machine, bus, devFn, reg, write.newValue);
}

WriteCheck CheckConfigWrite(const PciMachine& before, const VmConfigWrite& write)
{
    WriteCheck check;
    uint32_t bus, devFn, reg;
    if (!DecodeConfigAddress(write.address, bus, devFn, reg)) {
        check.problem = "the write reaches no register";
        return check;
    }
    const int slot = before.slotOf[bus << 8 | devFn];
    if (slot == 0) {
        check.problem = "no such function";
        return check;
    }
    const std::vector<AgpFunctionInfo> caps =
        AgpCapabilitiesOf(static_cast<uint8_t>(bus), static_cast<uint8_t>(devFn),
                          before.config[slot - 1], 256);
    for (const AgpFunctionInfo& cap : caps) {
        if ((cap.capOffset + 8u) != reg) continue;
        check.onAgpCommand = true;
        check.oldWords = "Command: " + AgpCommandWords(cap.major, cap.status, write.oldValue);
        check.newWords = "Command: " + AgpCommandWords(cap.major, cap.status, write.newValue);
        return check;
    }
    check.problem = caps.empty() ? "the function has no AGP capability"
                                 : "not the command register of the function's AGP capability";
    return check;
}

LinkJudgement JudgeLink(const PciMachine& machine)
{
    LinkJudgement judgement;
    const LinkParties parties = FindLinkParties(machine);
    if (!parties.chipsetFound) {
        judgement.why = "lumbrel finds no AGP chipset";
        return judgement;
    }
    if (!parties.adapterFound) {
        judgement.why = "lumbrel finds no AGP adapter";
        return judgement;
    }
    auto party = [](const char* role, const AgpCapability& cap) {
        AgpParty p;
        p.label = AgpPartyLabel(role, cap.bus, cap.devFn);
        p.major = cap.majorRev;
        p.status = cap.status;
        p.command = cap.command;
        return p;
    };
    judgement.judged = true;
    judgement.verdict =
        JudgeAgpLink(party("chipset", parties.chipset), party("adapter", parties.adapter));
    return judgement;
}

std::vector<std::string> LinkLines(const std::string& when, const LinkJudgement& now,
                                   const LinkJudgement* before)
{
    std::vector<std::string> lines;
    if (!now.judged) {
        lines.push_back("AGP link " + when + ": not judged: " + now.why);
        return lines;
    }
    lines.push_back("AGP link " + when + ": " + FormatAgpLinkSummary(now.verdict));
    for (const AgpLinkProblem& problem : now.verdict.problems) {
        std::string line = "  " + FormatAgpLinkProblem(problem);
        if (before && before->judged)
            line += HasAgpLinkProblem(before->verdict, problem) ? " [there before Set Mode]"
                                                                : " [came with Set Mode]";
        lines.push_back(line);
    }
    return lines;
}
