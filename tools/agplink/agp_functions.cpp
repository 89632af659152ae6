#include "agp_functions.h"

#include <algorithm>
#include <cstdio>

#include "agp_words.h"

namespace {

const unsigned kStatusRegister = 0x06;      // high half of register 0x04
const uint8_t kCapabilityListBit = 0x10;    // bit 20 of register 0x04
const unsigned kHeaderTypeByte = 0x0e;
const unsigned kClassRegister = 0x08;
const uint8_t kAgpId = 2;
const uint8_t kBrokenChainId = 0xff;
const unsigned kAgpCapabilitySize = 12;

uint32_t Dword(const uint8_t (&config)[256], unsigned offset)
{
    uint32_t value = 0;
    for (unsigned i = 0; i < 4; ++i) value |= uint32_t(config[(offset + i) & 0xFF]) << (8 * i);
    return value;
}

// Where the first capability pointer lies for a header type; 0 for none.
unsigned FirstPointerRegister(uint8_t headerType)
{
    switch (headerType & 0x7F) {
    case 0:
    case 1:
        return 0x34;
    case 2:
        return 0x14;
    default:
        return 0;
    }
}

}  // namespace

std::vector<AgpFunctionInfo> AgpCapabilitiesOf(uint8_t bus, uint8_t devFn,
                                               const uint8_t (&config)[256], unsigned bytesGiven)
{
    std::vector<AgpFunctionInfo> found;
    bytesGiven = std::min(bytesGiven, 256u);
    if (bytesGiven < 0x40 || !(config[kStatusRegister] & kCapabilityListBit)) return found;
    const unsigned pointerRegister = FirstPointerRegister(config[kHeaderTypeByte]);
    if (pointerRegister == 0) return found;

    bool visited[64] = {};
    for (unsigned where = config[pointerRegister] & ~3u; where != 0;
         where = config[where + 1] & ~3u) {
        if (where + 4 > bytesGiven || visited[where / 4]) break;
        visited[where / 4] = true;
        const uint8_t id = config[where];
        if (id == kBrokenChainId) break;
        if (id != kAgpId) continue;

        AgpFunctionInfo info;
        info.bus = bus;
        info.devFn = devFn;
        info.classCode = static_cast<uint16_t>(Dword(config, kClassRegister) >> 16);
        info.capOffset = static_cast<uint8_t>(where);
        info.major = config[where + 2] >> 4;
        info.minor = config[where + 2] & 0xF;
        info.registersShown = where + kAgpCapabilitySize <= bytesGiven;
        if (info.registersShown) {
            info.status = Dword(config, where + 4);
            info.command = Dword(config, where + 8);
        }
        found.push_back(info);
    }
    return found;
}

std::vector<AgpFunctionInfo> ListAgpFunctions(const PciMachine& machine)
{
    std::vector<AgpFunctionInfo> all;
    for (unsigned slot = 0; slot < 256 * 256; ++slot) {
        const unsigned index = machine.slotOf[slot];
        if (index == 0 || index > machine.functionCount || index > kMaxMachineFunctions) continue;
        const std::vector<AgpFunctionInfo> caps = AgpCapabilitiesOf(
            static_cast<uint8_t>(slot >> 8), static_cast<uint8_t>(slot), machine.config[index - 1],
            256);
        all.insert(all.end(), caps.begin(), caps.end());
    }
    return all;
}

std::vector<AgpFunctionInfo> ListAgpFunctions(const std::vector<PciDumpFunction>& functions)
{
    std::vector<const PciDumpFunction*> sorted;
    for (const PciDumpFunction& f : functions) sorted.push_back(&f);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const PciDumpFunction* a, const PciDumpFunction* b) {
                         return (a->bus << 8 | a->devFn) < (b->bus << 8 | b->devFn);
                     });
    std::vector<AgpFunctionInfo> all;
    for (const PciDumpFunction* f : sorted) {
        const std::vector<AgpFunctionInfo> caps =
            AgpCapabilitiesOf(f->bus, f->devFn, f->config, f->bytesGiven);
        all.insert(all.end(), caps.begin(), caps.end());
    }
    return all;
}

std::string PciSlotWords(unsigned bus, unsigned devFn)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02x:%02x.%u", bus & 0xFF, (devFn >> 3) & 0x1F, devFn & 7);
    return text;
}

std::vector<std::string> AgpFunctionLines(const AgpFunctionInfo& info)
{
    char head[64];
    std::snprintf(head, sizeof head, " class %04x AGP capability at %02x: ", info.classCode,
                  info.capOffset);
    std::vector<std::string> lines;
    lines.push_back(PciSlotWords(info.bus, info.devFn) + head +
                    AgpVersionWords(info.major, info.minor));
    if (info.registersShown) {
        lines.push_back("  Status: " + AgpStatusWords(info.major, info.status));
        lines.push_back("  Command: " + AgpCommandWords(info.major, info.status, info.command));
    }
    return lines;
}

std::string FormatAgpFunctions(const std::vector<AgpFunctionInfo>& functions)
{
    std::string text;
    for (const AgpFunctionInfo& info : functions)
        for (const std::string& line : AgpFunctionLines(info)) text += line + "\n";
    return text;
}
