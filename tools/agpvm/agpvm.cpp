// agpvm: a virtual AGP machine. Runs an unmodified Win32 program under the
// debug API and emulates every port instruction it executes against a PCI
// configuration space loaded from an `lspci -xxx` dump (configuration
// mechanism #1 at ports 0xCF8/0xCFC). This file holds the run from start to
// end: machine, scenario, launch, waiting, report and exit status.
//
// Fast path: at the program's entry point agpvm loads its handler DLL into
// the program; the DLL's vectored exception handler emulates the
// instructions in place against the machine in shared memory, and agpvm
// detaches. Until then, and throughout with --slow, the debugger emulates
// each instruction itself.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "debugger.h"
#include "default_machine.h"
#include "launch.h"
#include "options.h"
#include "pci_dump.h"
#include "pci_machine.h"
#include "scenario.h"
#include "vm_agp.h"
#include "vm_output.h"
#include "vm_report.h"
#include "vm_run.h"

namespace {

struct Machine {
    std::string name;
    std::vector<PciDumpFunction> functions;
    std::vector<PciMachine> built;  // one; on the heap, it is large
};

// Reads the machine file (or the built-in machine) and builds the machine
// before the program starts, so that a machine that does not fit is
// reported like any bad machine file. 0, or the exit status.
int LoadMachine(const Options& options, Machine& machine)
{
    std::string error;
    machine.name = "built-in AGP 2x machine";
    if (options.machinePath.empty()) {
        if (!ParsePciDump(kDefaultMachineText, "built-in machine", machine.functions, error)) {
            std::fprintf(stderr, "agpvm: %s\n", error.c_str());
            return kExitUsage;
        }
    } else {
        machine.name = options.machinePath;
        std::string text;
        if (!ReadTextFile(ToWindowsPath(options.machinePath), text)) {
            std::fprintf(stderr, "agpvm: cannot read machine file %s\n",
                         options.machinePath.c_str());
            return kExitUsage;
        }
        std::vector<std::string> warnings;
        if (!ParsePciDump(text, options.machinePath, machine.functions, warnings, error)) {
            std::fprintf(stderr, "agpvm: bad machine file: %s\n", error.c_str());
            return kExitUsage;
        }
        // Damaged rows are read as lspci reads them, and named.
        for (const std::string& warning : warnings)
            std::fprintf(stderr, "agpvm: warning: %s\n", warning.c_str());
    }
    // lspci run without root privileges shows only the first 64 bytes, which
    // hides the capability list; say so rather than let the run look odd.
    // (Fewer than 64 is damage, which the reader has named already.)
    for (const PciDumpFunction& f : machine.functions)
        if (f.bytesGiven >= 64 && f.bytesGiven < 256)
            std::fprintf(stderr,
                         "agpvm: warning: %02x:%02x.%x gives only %u of its 256 configuration "
                         "bytes; the rest read as 0 (run lspci -xxx as root for all of them)\n",
                         f.bus, f.devFn >> 3, f.devFn & 7, f.bytesGiven);
    machine.built.resize(1);
    if (!BuildPciMachine(machine.functions, machine.built[0], error)) {
        std::fprintf(stderr, "agpvm: bad machine file: %s\n", error.c_str());
        return kExitUsage;
    }
    return 0;
}

// The machine's name, its AGP functions in lspci's words, and the verdict
// on the AGP link that lumbrel's start-up would find.
void PrintMachineInfo(const Machine& machine)
{
    const std::vector<std::string> lines = MachineAgpLines(machine.built[0]);
    std::printf("%s: %s\n", machine.name.c_str(), lines[0].c_str());
    for (size_t i = 1; i < lines.size(); ++i) std::printf("%s\n", lines[i].c_str());
    for (const std::string& line : LinkLines("at start-up", JudgeLink(machine.built[0]), nullptr))
        std::printf("%s\n", line.c_str());
}

// 0, or the exit status.
int LoadScenario(const std::string& path, Scenario& scenario)
{
    std::string text, error;
    if (!ReadTextFile(ToWindowsPath(path), text)) {
        std::fprintf(stderr, "agpvm: cannot read scenario %s\n", path.c_str());
        return kExitUsage;
    }
    if (!ParseScenario(text, path, scenario, error)) {
        std::fprintf(stderr, "agpvm: bad scenario: %s\n", error.c_str());
        return kExitUsage;
    }
    return 0;
}

struct Ending {
    bool exited = false;
    DWORD exitCode = 0;
    bool stuck = false;
};

// Fast path after detaching, or no emulation at all: waits for the program
// (and the scenario) within the deadline.
void WaitForProgram(VmRun& run, HANDLE scenarioThread, Ending& ending)
{
    HANDLE handles[2] = {run.process, scenarioThread};
    const DWORD count = scenarioThread ? 2 : 1;
    for (;;) {
        g_relay.Drain();
        const DWORD left = RemainingMs(run);
        const DWORD r = WaitForMultipleObjects(count, handles, FALSE, left < 50 ? left : 50);
        if (r == WAIT_TIMEOUT && left > 50) continue;
        if (r == WAIT_OBJECT_0) break;
        if (r == WAIT_OBJECT_0 + 1) {
            // Scenario over; the program gets a moment to end by itself.
            if (WaitForSingleObject(run.process, 0) != WAIT_OBJECT_0) {
                TerminateProcess(run.process, 1);
                WaitForSingleObject(run.process, 10000);
            }
            break;
        }
        ending.stuck = true;
        TerminateProcess(run.process, 1);
        WaitForSingleObject(run.process, 10000);
        break;
    }
    GetExitCodeProcess(run.process, &ending.exitCode);
}

// The trace and the summary as asked for; the configuration writes are
// checked in any case. True when a write missed the AGP command registers.
bool PrintRunReport(const Options& options, const VmRun& run, const PciMachine& initial)
{
    bool badWrites = false;
    if (run.vm) {
        if (options.trace) {
            FILE* traceOut = ReportStream();
            if (!options.traceFile.empty())
                traceOut = std::fopen(ToWindowsPath(options.traceFile).c_str(), "wb");
            if (!traceOut) {
                Say("cannot write %s", options.traceFile.c_str());
            } else {
                PrintTrace(*run.vm, traceOut);
                if (traceOut != ReportStream()) std::fclose(traceOut);
            }
        }
        if (options.summary) PrintCounts(*run.vm);
        badWrites = ReportConfigWrites(*run.vm, initial, options.summary);
        if (options.summary) PrintPhases(run);
        for (uint32_t i = 0; i < run.vm->exceptionCount && i < kVmMaxExceptions; ++i)
            Say("note: exception %08lx at %08lx passed on to the program",
                static_cast<unsigned long>(run.vm->exceptions[i].code),
                static_cast<unsigned long>(run.vm->exceptions[i].eip));
    } else if (options.summary && run.dialogShownMs >= 0) {
        Say("dialog shown %ld ms after launch", static_cast<long>(run.dialogShownMs));
    }
    return badWrites;
}

// The run's exit status: the scenario's verdict, else the program's exit
// code; the first failure found decides, each is reported.
int Verdict(const Options& options, const VmRun& run, const Ending& ending,
            const ScenarioResult* scenario, Debugger& debugger, bool badWrites)
{
    int status = static_cast<int>(ending.exitCode);
    bool failed = false;
    if (scenario) {
        if (scenario->passed) {
            Say("scenario %s passed", options.scenarioPath.c_str());
            status = 0;
        } else {
            Say("FAIL: scenario %s: %s", options.scenarioPath.c_str(), scenario->message.c_str());
            status = kExitScenarioFailed;
            failed = true;
        }
    }
    if (run.vm && run.vm->crashed && !debugger.crashed) {
        debugger.crashed = true;
        debugger.crashCode = run.vm->crashCode;
        debugger.crashAddress = run.vm->crashEip;
    }
    if (debugger.crashed) {
        Say("FAIL: the program crashed: unhandled exception %08lx at %08lx", debugger.crashCode,
            debugger.crashAddress);
        if (!failed) status = kExitCrashed;
        failed = true;
    } else if ((ending.exitCode & 0xC0000000u) == 0xC0000000u && ending.exitCode != 0xFFFFFFFFu &&
               !ending.stuck) {
        Say("FAIL: the program ended with exception status %08lx", ending.exitCode);
        if (!failed) status = kExitCrashed;
        failed = true;
    }
    if (run.vm && ReportIllegal(*run.vm)) {
        if (!failed) status = kExitIllegalAccess;
        failed = true;
    }
    if (badWrites) {
        if (!failed) status = kExitBadWrite;
        failed = true;
    }
    if (ending.stuck) {
        Say("FAIL: the program was still running after %u s and has been ended",
            options.timeoutSeconds);
        if (!failed) status = kExitStuck;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    InitOutput();
    Options options;
    if (int status = ParseOptions(argc, argv, options)) return status;
    if (!options.outputPath.empty() && !SetReportFile(ToWindowsPath(options.outputPath))) {
        std::fprintf(stderr, "agpvm: cannot write %s\n", options.outputPath.c_str());
        return kExitUsage;
    }

    Machine machine;
    if (int status = LoadMachine(options, machine)) return status;
    if (options.machineInfo) {
        PrintMachineInfo(machine);
        return 0;
    }
    Scenario scenario;
    if (!options.scenarioPath.empty())
        if (int status = LoadScenario(options.scenarioPath, scenario)) return status;

    VmRun run;
    run.verbose = options.verbose;
    run.stepBoundMs = options.stepSeconds * 1000;
    run.initialMachine = &machine.built[0];
    if (!ResolveProgram(options.program[0], run.programPath)) return kExitUsage;
    LaunchRequest request;
    request.program = options.program;
    request.desktopSize = options.desktopSize;
    request.debug = !options.plain;
    request.machine = &machine.built[0];
    request.timeoutSeconds = options.timeoutSeconds;
    Launch launch;
    if (int status = LaunchProgram(request, run, launch)) return status;
    Say("running %s on %s (%u functions)%s", run.programPath.c_str(), machine.name.c_str(),
        static_cast<unsigned>(machine.functions.size()),
        options.plain ? " without emulation" : options.slow ? " emulated by the debugger" : "");
    if (options.summary)
        for (const std::string& line : MachineAgpLines(machine.built[0])) Say("%s", line.c_str());

    ScenarioJob scenarioJob = {&scenario, &run, ScenarioResult()};
    HANDLE scenarioThread = nullptr;
    if (!options.scenarioPath.empty())
        scenarioThread = CreateThread(nullptr, 0, ScenarioThread, &scenarioJob, 0, nullptr);

    Debugger debugger(run, options.slow, scenarioThread);
    Ending ending;
    if (!options.plain) {
        debugger.Loop();
        if (!debugger.note.empty()) Say("note: %s", debugger.note.c_str());
        ending.stuck = debugger.stuck;
        ending.exited = debugger.exited;
        ending.exitCode = debugger.exitCode;
    }
    if (!ending.exited) WaitForProgram(run, scenarioThread, ending);
    if (scenarioThread) {
        // The scenario's own waits are bounded by the same deadline.
        if (WaitForSingleObject(scenarioThread, 15000) != WAIT_OBJECT_0) {
            Say("FAIL: the scenario driver did not finish");
            ending.stuck = true;
        }
    }

    g_relay.Drain();
    const bool badWrites = PrintRunReport(options, run, machine.built[0]);
    Say("program exit code %lu (0x%08lx)", ending.exitCode, ending.exitCode);
    const int status = Verdict(options, run, ending, scenarioThread ? &scenarioJob.result : nullptr,
                               debugger, badWrites);
    EndLaunch(launch);
    CloseReportFile();
    return status;
}
