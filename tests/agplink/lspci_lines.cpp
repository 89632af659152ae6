#include "lspci_lines.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "pci_dump.h"

std::vector<std::string> AgpLinesOfLspci(const std::string& lspciOutput)
{
    static const std::string kCapability = "\tCapabilities: [";
    static const std::string kAgp = "] AGP version ";
    std::vector<std::string> lines;
    std::istringstream in(lspciOutput);
    std::string line, function;  // "BB:DD.F class CCCC", empty outside domain 0
    unsigned registersExpected = 0;
    while (std::getline(in, line)) {
        if (registersExpected > 0) {
            const char* const label = registersExpected == 2 ? "\t\tStatus: " : "\t\tCommand: ";
            --registersExpected;
            if (line.compare(0, std::strlen(label), label) == 0) {
                lines.push_back("  " + line.substr(2));
                continue;
            }
            registersExpected = 0;
        }
        if (!line.empty() && line[0] != '\t') {
            // "0000:01:00.0 0300: 10de:0028 (rev 15)"
            function.clear();
            if (line.compare(0, 5, "0000:") == 0 && line.size() > 17 && line[17] == ':')
                function = line.substr(5, 7) + " class " + line.substr(13, 4);
            continue;
        }
        const size_t agp = line.find(kAgp);
        if (function.empty() || line.compare(0, kCapability.size(), kCapability) != 0 ||
            agp == std::string::npos)
            continue;
        lines.push_back(function + " AGP capability at " +
                        line.substr(kCapability.size(), agp - kCapability.size()) + ": " +
                        line.substr(agp + 2));
        registersExpected = 2;
    }
    return lines;
}

std::string DumpText(const std::vector<DumpFunction>& functions)
{
    std::vector<PciDumpFunction> dump(functions.size());
    for (size_t i = 0; i < functions.size(); ++i) {
        dump[i].bus = functions[i].bus;
        dump[i].devFn = functions[i].devFn;
        dump[i].description = "Host bridge: made by a test";
        dump[i].bytesGiven = functions[i].bytesGiven;
        std::memcpy(dump[i].config, functions[i].config, sizeof dump[i].config);
    }
    return FormatPciDump(dump);
}

std::string WriteTempFile(const std::string& name, const std::string& text)
{
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}
