// The AGP side of agpvm's report: the machine's AGP functions in lspci's
// words, each configuration write checked against the AGP command
// registers and decoded, and the verdict on the AGP link that lumbrel's
// start-up would find.
#ifndef LUMBREL_AGPVM_VM_AGP_H
#define LUMBREL_AGPVM_VM_AGP_H

#include <string>
#include <vector>

#include "link_verdict.h"
#include "pci_machine.h"
#include "vm_shared.h"

// The header line and every AGP capability of the machine, as lines.
std::vector<std::string> MachineAgpLines(const PciMachine& machine);

struct WriteCheck {
    bool onAgpCommand = false;    // the write lands on an AGP command register
    std::string problem;          // why not, when it does not
    std::string oldWords, newWords;  // "Command: ..." of the old and the new value
};

// Checks a write against the machine as it was just before it.
WriteCheck CheckConfigWrite(const PciMachine& before, const VmConfigWrite& write);

// "configuration write 01:00.0 reg 4c: 1f000101 -> 1f000302", or, with
// the latch's enable bit clear, "configuration write with the enable bit
// clear (latch 00000000): 12345678 dropped".
std::string ConfigWriteWords(const VmConfigWrite& write);

// A checked write in words: ConfigWriteWords, then "    old Command: ..."
// and "    new Command: ..."; a write that misses the AGP command registers
// is one line, "...: not an AGP command register: why".
std::vector<std::string> ConfigWriteLines(const VmConfigWrite& write, const WriteCheck& check);

// The write applied to the machine as mechanism #1 applies it (nothing
// with the enable bit clear), to replay a run's writes.
void ApplyConfigWrite(PciMachine& machine, const VmConfigWrite& write);

// How many of the run's writes agpvm kept.
inline uint32_t KeptConfigWrites(const VmShared& vm)
{
    return vm.configWrites < kVmMaxConfigWrites ? vm.configWrites : kVmMaxConfigWrites;
}

// The link as lumbrel's start-up finds it on a machine.
struct LinkJudgement {
    bool judged = false;
    std::string why;  // when not judged: which party lumbrel finds no AGP capability of
    AgpLinkVerdict verdict;
};

LinkJudgement JudgeLink(const PciMachine& machine);

// "AGP link WHEN: ..." and one line per problem. With `before`, each
// problem says whether it was there before Set Mode or came with it.
std::vector<std::string> LinkLines(const std::string& when, const LinkJudgement& now,
                                   const LinkJudgement* before);

#endif
