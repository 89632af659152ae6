// agpvm's command line: the options, their usage text and the exit statuses.
#ifndef LUMBREL_AGPVM_OPTIONS_H
#define LUMBREL_AGPVM_OPTIONS_H

#include <string>
#include <vector>

enum ExitStatus {
    kExitUsage = 2,
    kExitScenarioFailed = 3,
    kExitIllegalAccess = 4,
    kExitStuck = 5,
    kExitStartFailed = 6,
    kExitCrashed = 7,
    kExitBadWrite = 8,  // a configuration write missed the AGP command registers
};

struct Options {
    std::string machinePath;  // empty: the built-in machine
    std::vector<std::string> program;
    bool summary = false;
    bool trace = false;
    std::string traceFile;
    std::string scenarioPath;
    std::string outputPath;
    unsigned timeoutSeconds = 60;
    unsigned stepSeconds = 15;
    bool slow = false;
    bool plain = false;
    bool machineInfo = false;
    bool verbose = false;
    std::string desktopSize = "640x480";  // empty: the program shares agpvm's desktop
};

// Returns 0 when the options are good, otherwise the exit status (the
// problem and the usage are printed). --help prints the usage and exits.
int ParseOptions(int argc, char** argv, Options& options);

#endif
