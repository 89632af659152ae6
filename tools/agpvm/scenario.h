// Scenarios: plain text files of steps that drive the running program from
// outside through Win32 calls, every wait bounded. See scenario.cpp for
// the steps.
#ifndef LUMBREL_AGPVM_SCENARIO_H
#define LUMBREL_AGPVM_SCENARIO_H

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

// Runs the steps against the program of `run`. Called on a thread of its own.
ScenarioResult RunScenario(const Scenario& scenario, VmRun& run);

#endif
