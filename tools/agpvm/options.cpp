// agpvm's command line: parsing the options and the usage text.
#include "options.h"

#include <cstdio>
#include <cstdlib>

namespace {

const char kUsage[] =
    "usage: agpvm [options] [MACHINE.txt] -- PROGRAM.exe [ARGS...]\n"
    "Runs PROGRAM with its port instructions emulated against the PCI machine\n"
    "of MACHINE.txt (an `lspci -xxx` dump; a built-in AGP 2x machine without it).\n"
    "options:\n"
    "  --summary          the machine's AGP functions, access counts, every configuration\n"
    "                     write decoded, and the AGP link verdict at start-up and after\n"
    "                     each Set Mode\n"
    "  --trace[=FILE]     print every port access in order (op, port, value)\n"
    "  --scenario FILE    drive the program by the steps in FILE\n"
    "  --timeout SECONDS  bound on the whole run (default 60); the program is ended then\n"
    "  --step-timeout S   bound on each scenario step (default 15)\n"
    "  --output FILE      write agpvm's report to FILE instead of standard output\n"
    "  --slow             emulate every instruction in the debugger (no handler DLL)\n"
    "  --plain            no emulation: the program runs as Wine runs it, ports denied\n"
    "  --machine-info     print the machine's AGP functions in lspci's words and the AGP\n"
    "                     link verdict at start-up, and exit\n"
    "  --verbose          report each scenario step as it starts\n"
    "  --desktop WxH      size of the Wine virtual desktop the program runs in (640x480)\n"
    "  --no-desktop       run the program on agpvm's own desktop (a real display's)\n"
    "exit status: with a scenario 0 when it passed; otherwise the program's exit code;\n"
    "  2 bad usage or machine, 3 scenario failed, 4 illegal port access, 5 program\n"
    "  stuck, 6 program could not be started, 7 program crashed, 8 a configuration\n"
    "  write that is not to an AGP command register.\n";

int Usage(const std::string& problem)
{
    std::fprintf(stderr, "agpvm: %s\n%s", problem.c_str(), kUsage);
    return kExitUsage;
}

bool ParseSeconds(const char* text, unsigned& seconds)
{
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (!*text || *end || value == 0 || value > 86400) return false;
    seconds = static_cast<unsigned>(value);
    return true;
}

}  // namespace

int ParseOptions(int argc, char** argv, Options& options)
{
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        // The value of an option that takes one; null when it is missing.
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--") {
            ++i;
            break;
        } else if (arg == "--summary") {
            options.summary = true;
        } else if (arg == "--trace") {
            options.trace = true;
        } else if (arg.compare(0, 8, "--trace=") == 0 && arg.size() > 8) {
            options.trace = true;
            options.traceFile = arg.substr(8);
        } else if (arg == "--scenario") {
            const char* v = value();
            if (!v) return Usage("--scenario needs a file");
            options.scenarioPath = v;
        } else if (arg == "--output") {
            const char* v = value();
            if (!v) return Usage("--output needs a file");
            options.outputPath = v;
        } else if (arg == "--timeout") {
            const char* v = value();
            if (!v || !ParseSeconds(v, options.timeoutSeconds))
                return Usage("--timeout needs a whole number of seconds from 1 to 86400");
        } else if (arg == "--step-timeout") {
            const char* v = value();
            if (!v || !ParseSeconds(v, options.stepSeconds))
                return Usage("--step-timeout needs a whole number of seconds from 1 to 86400");
        } else if (arg == "--slow") {
            options.slow = true;
        } else if (arg == "--plain") {
            options.plain = true;
        } else if (arg == "--desktop") {
            const char* v = value();
            unsigned w = 0, h = 0;
            char extra = 0;
            if (!v || std::sscanf(v, "%ux%u%c", &w, &h, &extra) != 2 || w < 320 || h < 200 ||
                w > 4096 || h > 4096)
                return Usage("--desktop needs a size WIDTHxHEIGHT, e.g. 640x480");
            options.desktopSize = v;
        } else if (arg == "--no-desktop") {
            options.desktopSize.clear();
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--machine-info") {
            options.machineInfo = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option " + arg);
        } else if (options.machinePath.empty()) {
            options.machinePath = arg;
        } else {
            return Usage("unexpected argument " + arg + " (the program goes after --)");
        }
    }
    for (; i < argc; ++i) options.program.push_back(argv[i]);
    if (options.slow && options.plain) return Usage("--slow and --plain exclude each other");
    if (options.program.empty() && !options.machineInfo)
        return Usage("no program given (agpvm [options] [MACHINE.txt] -- PROGRAM.exe)");
    return 0;
}
