// Scenario steps on the machine and the run: configuration writes and
// reads, phase marks, the program's end, and files that pace a caller.
#include <cstdio>
#include <memory>

#include "program_windows.h"
#include "scenario_runner.h"
#include "scenario_text.h"
#include "vm_agp.h"
#include "vm_output.h"

void Runner::ExpectWrites(const std::vector<std::string>& args)
{
    if (!run_.vm) Fail("configuration writes are seen only in the VM");
    Sync();
    const VmShared& vm = *run_.vm;
    const uint32_t expected = static_cast<uint32_t>(args.size() / 3);
    const DWORD deadline = StepDeadline();
    while (vm.configWrites < writeCursor_ + expected) {
        if (ProgramEnded() || !Before(deadline)) break;
        Pump(10);
    }
    std::string seen;
    const uint32_t end = vm.configWrites;
    for (uint32_t i = writeCursor_; i < end && i < kVmMaxConfigWrites; ++i) {
        const VmConfigWrite& w = vm.writes[i];
        seen += Format(" [%s %02lx %08lx]", ConfigLocation(w.address).c_str(),
                       w.address & 0xFCul, static_cast<unsigned long>(w.newValue));
    }
    if (end != writeCursor_ + expected)
        Fail(Format("%lu configuration write(s) expected, %lu seen:", static_cast<unsigned long>(expected),
                    static_cast<unsigned long>(end - writeCursor_)) + seen);
    for (uint32_t k = 0; k < expected; ++k) {
        unsigned bus, dev, fn;
        unsigned long reg, value;
        ParseLocation(args[3 * k], bus, dev, fn);
        ParseNumber(args[3 * k + 1], reg, 16);
        ParseNumber(args[3 * k + 2], value, 16);
        const VmConfigWrite& w = vm.writes[writeCursor_ + k];
        const uint32_t address = 0x80000000u | (bus << 16) | (dev << 11) | (fn << 8) | (reg & 0xFC);
        if (w.address != address || w.newValue != value)
            Fail(Format("configuration write %lu should be %s %02lx %08lx; seen:",
                        static_cast<unsigned long>(k + 1), args[3 * k].c_str(), reg, value) + seen);
    }
    writeCursor_ = end;
}

void Runner::ExpectReads(const std::string& count)
{
    if (!run_.vm) Fail("configuration reads are counted only in the VM");
    Sync();
    unsigned long expected;
    ParseNumber(count, expected);
    const uint32_t reads = run_.vm->configReads - readCursor_;
    readCursor_ = run_.vm->configReads;
    if (reads != expected)
        Fail(Format("%lu configuration reads, expected %lu", static_cast<unsigned long>(reads), expected));
}

// Each write since the last write check, decoded and checked against the
// machine as that write found it (replayed from the machine as loaded).
void Runner::PrintWrites()
{
    if (!run_.vm || !run_.initialMachine) Fail("configuration writes are seen only in the VM");
    Sync();
    const VmShared& vm = *run_.vm;
    const uint32_t end = KeptConfigWrites(vm);
    if (!replay_) replay_.reset(new PciMachine(*run_.initialMachine));
    if (writeCursor_ == end) PrintLine("  none");
    for (; replayed_ < end; ++replayed_) {
        const VmConfigWrite& w = vm.writes[replayed_];
        if (replayed_ >= writeCursor_)
            for (const std::string& line : ConfigWriteLines(w, CheckConfigWrite(*replay_, w)))
                PrintLine("  %s", line.c_str());
        ApplyConfigWrite(*replay_, w);
    }
    writeCursor_ = vm.configWrites;
}

// The verdict on the AGP link as the machine stands now; after the first,
// each problem says whether the previous verdict had it.
void Runner::PrintLink(const std::string& when)
{
    if (!run_.vm) Fail("the AGP link is judged only in the VM");
    Sync();
    // JudgeLink works on a copy of its own: the program is idle after Sync.
    std::unique_ptr<LinkJudgement> judgement(new LinkJudgement(JudgeLink(run_.vm->machine)));
    for (const std::string& line : LinkLines(when, *judgement, lastLink_.get()))
        PrintLine("%s", line.c_str());
    lastLink_ = std::move(judgement);
}

void Runner::ExpectNoWrites()
{
    if (!run_.vm) Fail("configuration writes are seen only in the VM");
    Sync();
    if (run_.vm->configWrites != writeCursor_)
        Fail(Format("%lu unexpected configuration write(s)",
                    static_cast<unsigned long>(run_.vm->configWrites - writeCursor_)));
}


void Runner::ExpectExit(const std::vector<std::string>& args)
{
    const DWORD left = RemainingMs(run_);
    const DWORD wait =
        WaitForSingleObject(run_.process, left < run_.stepBoundMs ? left : run_.stepBoundMs);
    if (wait != WAIT_OBJECT_0) Fail("the program did not end; windows: " + Windows());
    GetExitCodeProcess(run_.process, &exitCode_);
    exitSeen_ = true;
    if (!args.empty()) {
        unsigned long code;
        ParseNumber(args[0], code);
        if (code != exitCode_)
            Fail(Format("exit code 0x%08lx, expected 0x%08lx", exitCode_, code));
    }
}

void Runner::Mark(const std::string& name)
{
    if (!run_.vm) Fail("phases are counted only in the VM");
    Sync();
    const VmShared& vm = *run_.vm;
    run_.marks.push_back({name, vm.accessCount, vm.configReads, vm.configWrites, vm.addressWrites,
                          GetTickCount() - run_.startTick});
    readCursor_ = vm.configReads;
}

void Runner::Signal(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) Fail("cannot create " + path);
    std::fclose(f);
}

void Runner::WaitFile(const std::string& path)
{
    const DWORD deadline = StepDeadline();
    while (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        RequireRunning("a file");
        if (!Before(deadline)) Fail("no file " + path + " appeared");
        Pump(20);
    }
}
