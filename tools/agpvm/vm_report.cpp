// agpvm's report of a run: trace, summary and illegal accesses.
#include "vm_report.h"

#include <cstring>
#include <memory>

#include "port_emulation.h"
#include "vm_agp.h"
#include "vm_output.h"

void PrintTrace(const VmShared& vm, FILE* out)
{
    const uint32_t count = vm.accessCount < kVmLogCapacity ? vm.accessCount : kVmLogCapacity;
    for (uint32_t i = 0; i < count; ++i) {
        const VmAccess& a = vm.log[i];
        const char* op = a.op == kVmIn ? "in" : "out";
        if (a.size == 4)
            std::fprintf(out, "%-3s %04x %08lx\n", op, a.port, static_cast<unsigned long>(a.value));
        else
            std::fprintf(out, "%s%u %04x %0*lx\n", op, a.size * 8u, a.port, a.size * 2,
                         static_cast<unsigned long>(a.value));
    }
    if (vm.accessCount > kVmLogCapacity)
        std::fprintf(out, "... %lu more accesses not kept\n",
                     static_cast<unsigned long>(vm.accessCount - kVmLogCapacity));
}

void PrintCounts(const VmShared& vm)
{
    Say("%lu port accesses: %lu in, %lu out; configuration reads %lu, writes %lu; address "
        "writes %lu, reads %lu",
        static_cast<unsigned long>(vm.accessCount), static_cast<unsigned long>(vm.inCount),
        static_cast<unsigned long>(vm.outCount), static_cast<unsigned long>(vm.configReads),
        static_cast<unsigned long>(vm.configWrites), static_cast<unsigned long>(vm.addressWrites),
        static_cast<unsigned long>(vm.addressReads));
    Say("emulated in the program %lu, by the debugger %lu",
        static_cast<unsigned long>(vm.fastAccesses), static_cast<unsigned long>(vm.slowAccesses));
    if (vm.accessCount) {
        const unsigned long ms = vm.lastAccessTick - vm.firstAccessTick;
        Say("emulation: %lu accesses from the first to the last within %lu ms", 
            static_cast<unsigned long>(vm.accessCount), ms);
    }
}

void PrintPhases(const VmRun& run)
{
    uint32_t prevAccesses = 0, prevReads = 0, prevWrites = 0;
    for (const PhaseMark& m : run.marks) {
        Say("phase %s: configuration reads %lu, writes %lu (port accesses %lu) at %lu ms",
            m.name.c_str(), static_cast<unsigned long>(m.configReads - prevReads),
            static_cast<unsigned long>(m.configWrites - prevWrites),
            static_cast<unsigned long>(m.accessCount - prevAccesses),
            static_cast<unsigned long>(m.elapsedMs));
        prevAccesses = m.accessCount;
        prevReads = m.configReads;
        prevWrites = m.configWrites;
    }
    if (run.dialogShownMs >= 0)
        Say("dialog shown %ld ms after launch", static_cast<long>(run.dialogShownMs));
}


bool ReportIllegal(const VmShared& vm)
{
    if (vm.illegalCount == 0) return false;
    Say("FAIL: %lu port access(es) other than 32 bits at 0xCF8/0xCFC",
        static_cast<unsigned long>(vm.illegalCount));
    const uint32_t n = vm.illegalCount < kVmMaxIllegal ? vm.illegalCount : kVmMaxIllegal;
    for (uint32_t i = 0; i < n; ++i) {
        const VmIllegal& bad = vm.illegal[i];
        char bytes[40] = "";
        for (int b = 0; b < 4; ++b)
            std::snprintf(bytes + std::strlen(bytes), sizeof bytes - std::strlen(bytes), "%02x ",
                          bad.bytes[b]);
        Say("  illegal %s%s of %u bits at port %04x (value %lx) by the instruction at %08lx [%s]",
            bad.flags & kIoString ? "string " : "", bad.op == kVmIn ? "in" : "out",
            bad.size * 8u, bad.port, static_cast<unsigned long>(bad.value),
            static_cast<unsigned long>(bad.eip), bytes);
    }
    return true;
}

bool ReportConfigWrites(const VmShared& vm, const PciMachine& initial, bool print)
{
    // The machine as each write found it: the machine as loaded, with the
    // earlier writes applied as mechanism #1 applies them.
    std::unique_ptr<PciMachine> machine(new PciMachine(initial));
    LinkJudgement before;
    if (print) {
        before = JudgeLink(*machine);
        for (const std::string& line : LinkLines("at start-up", before, nullptr))
            Say("%s", line.c_str());
    }
    bool bad = false;
    const uint32_t kept = KeptConfigWrites(vm);
    for (uint32_t i = 0; i < kept; ++i) {
        const VmConfigWrite& w = vm.writes[i];
        const WriteCheck check = CheckConfigWrite(*machine, w);
        const std::vector<std::string> lines = ConfigWriteLines(w, check);
        if (!check.onAgpCommand) {
            bad = true;
            Say("FAIL: %s", lines[0].c_str());
        } else if (print) {
            for (const std::string& line : lines) Say("%s", line.c_str());
        }
        ApplyConfigWrite(*machine, w);
        // Writes with no configuration read between them are one Set Mode.
        const bool groupEnds = i + 1 == kept || vm.writes[i + 1].readsBefore != w.readsBefore;
        if (print && groupEnds) {
            const LinkJudgement after = JudgeLink(*machine);
            for (const std::string& line : LinkLines("after Set Mode", after, &before))
                Say("%s", line.c_str());
            before = after;
        }
    }
    if (vm.configWrites > kVmMaxConfigWrites) {
        Say("FAIL: %lu more configuration writes than agpvm keeps, not checked",
            static_cast<unsigned long>(vm.configWrites - kVmMaxConfigWrites));
        bad = true;
    }
    return bad;
}
