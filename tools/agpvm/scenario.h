// Scenarios: plain text files of steps that drive the running program from
// outside through Win32 calls, every wait bounded. The language is in
// scenario_language.cpp (its steps listed at the top), the runner in
// scenario_runner.h.
#ifndef LUMBREL_AGPVM_SCENARIO_H
#define LUMBREL_AGPVM_SCENARIO_H

#include <windows.h>

#include <string>
#include <vector>

#include "vm_run.h"

struct ScenarioStep {
    unsigned line = 0;
    std::string command;
    std::vector<std::string> args;  // quoted arguments unescaped (\n, \t, \\, \", \xHH)
};

struct Scenario {
    std::string source;
    std::vector<ScenarioStep> steps;
};

// Parses and checks a scenario; on failure sets `error` ("FILE:LINE: ...").
bool ParseScenario(const std::string& text, const std::string& source, Scenario& scenario,
                   std::string& error);

struct ScenarioResult {
    bool passed = false;
    bool programExited = false;
    DWORD exitCode = 0;
    std::string message;  // why it failed
};

// Runs the steps against the program of `run`.
ScenarioResult RunScenario(const Scenario& scenario, VmRun& run);

// A scenario run on a thread of its own (CreateThread with ScenarioThread
// and a ScenarioJob), on the program's desktop.
struct ScenarioJob {
    const Scenario* scenario;
    VmRun* run;
    ScenarioResult result;
};
DWORD WINAPI ScenarioThread(LPVOID job);

#endif
