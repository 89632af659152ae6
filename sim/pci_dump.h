// Reads PCI machines from text in the format of `lspci -xxx`: a line
// "BB:DD.F description" (optionally "DDDD:BB:DD.F"), then hex rows
// "00: xx xx ..." with 16 bytes each, up to "f0:" (or "ff0:" for
// lspci -xxxx). Dumps as people post them read too: CR LF line ends,
// shell prompts and other text between the lines, `lspci -vv` details,
// descriptions wrapped onto the next line, indented or '>'-quoted lines,
// and quoted-printable mail text.
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
    // How far the dump's bytes reach (at most 256). Below that, bytes that
    // no row gives read as 0xff, as lspci shows them; from there on they
    // read as 0. A function built in code gives all 256.
    unsigned bytesGiven = 256;
    uint8_t config[256] = {};
};

// Parses `text`; `sourceName` starts every message. A file that lspci -F
// reads gives the same functions with the same bytes. Damaged data (a row
// with a bad digit or the wrong number of bytes, a row out of order or
// outside any function, a function with fewer than 64 bytes, a function
// that cannot be reached or that is given twice with other bytes) is read
// as lspci reads it where lspci does, and reported: `warnings` is set to
// one "SOURCE:LINE: what" line each, in line order. Fails only when the
// text holds lines but not a single function line (a text of nothing but
// blank and '#' lines is an empty machine): then `error` reads
// "SOURCE:LINE: what" and `functions` is left alone. Functions outside PCI
// domain 0 cannot be reached through ports 0xCF8/0xCFC and are left out.
bool ParsePciDump(const std::string& text, const std::string& sourceName,
                  std::vector<PciDumpFunction>& functions, std::vector<std::string>& warnings,
                  std::string& error);

// The same, strictly: damaged data is an error too, the message being
// the first problem met while reading.
bool ParsePciDump(const std::string& text, const std::string& sourceName,
                  std::vector<PciDumpFunction>& functions, std::string& error);

// Reads and parses a file, with warnings or strictly; a file that cannot
// be read is an error too.
bool LoadPciDumpFile(const std::string& path, std::vector<PciDumpFunction>& functions,
                     std::vector<std::string>& warnings, std::string& error);
bool LoadPciDumpFile(const std::string& path, std::vector<PciDumpFunction>& functions,
                     std::string& error);

// Writes functions back as `lspci -xxx` does, each with the rows that hold
// its given bytes; ParsePciDump reads the text back into the same functions.
std::string FormatPciDump(const std::vector<PciDumpFunction>& functions);

#endif
