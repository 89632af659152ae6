// Reads PCI machines from text in the format of `lspci -xxx`: a line
// "BB:DD.F description" (optionally "DDDD:BB:DD.F"), then hex lines
// "00: xx xx ..." with 16 bytes each, up to "f0:".
#ifndef LUMBREL_SIM_PCI_DUMP_H
#define LUMBREL_SIM_PCI_DUMP_H

#include <cstdint>
#include <string>
#include <vector>

struct PciDumpFunction {
    uint8_t bus = 0;
    uint8_t devFn = 0;             // device << 3 | function
    unsigned line = 0;             // line of the "BB:DD.F" header, for messages
    std::string description;
    unsigned bytesGiven = 0;       // how many of the 256 bytes the dump gives
    uint8_t config[256] = {};      // bytes the dump does not give read as 0
};

// Parses `text`. On failure returns false and sets `error` to
// "SOURCE:LINE: what is wrong". Functions outside PCI domain 0 cannot be
// reached through ports 0xCF8/0xCFC and are left out.
bool ParsePciDump(const std::string& text, const std::string& sourceName,
                  std::vector<PciDumpFunction>& functions, std::string& error);

// Reads and parses a file; a file that cannot be read is an error too.
bool LoadPciDumpFile(const std::string& path, std::vector<PciDumpFunction>& functions,
                     std::string& error);

// Writes functions back in the same format (round trip for tools and tests).
std::string FormatPciDump(const std::vector<PciDumpFunction>& functions);

#endif
