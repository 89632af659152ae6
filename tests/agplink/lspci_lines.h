// pciutils' lspci as the reference: running it on a dump file, and the AGP
// lines of its `-vv` output put in the form of AgpFunctionLines.
#ifndef LUMBREL_TESTS_AGPLINK_LSPCI_LINES_H
#define LUMBREL_TESTS_AGPLINK_LSPCI_LINES_H

#include <cstdint>
#include <string>
#include <vector>

#include "run_command.h"

// From `lspci -D -n -vv` output: for each AGP capability of a domain-0
// function, "BB:DD.F class CCCC AGP capability at XX: AGP version M.m",
// then the "  Status: ..." and "  Command: ..." lines that follow it.
std::vector<std::string> AgpLinesOfLspci(const std::string& lspciOutput);

// One function of a dump made by a test: its bytes and how many of them
// the dump gives (whole rows of 16).
struct DumpFunction {
    uint8_t bus = 0, devFn = 0;
    unsigned bytesGiven = 256;
    uint8_t config[256] = {};
    void Set8(unsigned offset, uint8_t value) { config[offset & 0xFF] = value; }
    void Set32(unsigned offset, uint32_t value)
    {
        for (unsigned i = 0; i < 4; ++i) Set8(offset + i, static_cast<uint8_t>(value >> (8 * i)));
    }
};

// `lspci -xxx` text of the functions, each with only the rows it gives.
std::string DumpText(const std::vector<DumpFunction>& functions);

// Writes text to a file in the test's temporary directory; returns its path.
std::string WriteTempFile(const std::string& name, const std::string& text);

#endif
