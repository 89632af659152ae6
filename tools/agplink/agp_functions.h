// The AGP capabilities of a machine, found the way `lspci -vv` (pciutils
// 3.9) finds them, and the lines that show each one in lspci's words.
//
// The walk, as lspci does it:
// - only a function whose status register has the capabilities-list bit
//   (register 0x04, bit 20) has a list;
// - the header type (register 0x0c, bits 22-16, multi-function bit left
//   out) decides where the first pointer lies: types 0 and 1 at 0x34, type
//   2 (CardBus) at 0x14; other types have no list;
// - every pointer is taken with its two low bits cleared, and 0 ends the
//   list; pointers below 0x40 are followed like any other;
// - a header met a second time ends the list (a cycle), as does a header
//   with ID 0xff (a broken chain) or one outside the bytes the dump gives;
// - every header with ID 2 is an AGP capability, however many there are.
// A list visits each of the 64 dword offsets at most once, so every walk
// ends. Status and command are shown only when the whole 12-byte
// capability lies inside the bytes given (and inside the 256 bytes).
#ifndef LUMBREL_AGPLINK_AGP_FUNCTIONS_H
#define LUMBREL_AGPLINK_AGP_FUNCTIONS_H

#include <cstdint>
#include <string>
#include <vector>

#include "pci_dump.h"
#include "pci_machine.h"

// One AGP capability of one function.
struct AgpFunctionInfo {
    uint8_t bus = 0;
    uint8_t devFn = 0;              // device << 3 | function
    uint16_t classCode = 0;         // bits 31-16 of register 0x08
    uint8_t capOffset = 0;          // the capability header, dword aligned
    uint8_t major = 0, minor = 0;   // capability version, bits 23-20 and 19-16 of its header
    bool registersShown = false;    // status and command lie inside the bytes given
    uint32_t status = 0;            // AGP status register (capability + 4)
    uint32_t command = 0;           // AGP command register (capability + 8)
};

// The AGP capabilities of one function's configuration space, of which
// the first `bytesGiven` bytes are known.
std::vector<AgpFunctionInfo> AgpCapabilitiesOf(uint8_t bus, uint8_t devFn,
                                               const uint8_t (&config)[256], unsigned bytesGiven);

// Every AGP capability of the machine, in bus and device/function order.
std::vector<AgpFunctionInfo> ListAgpFunctions(const PciMachine& machine);

// The same for parsed dump functions, honouring how many bytes each gives,
// in bus and device/function order as lspci sorts them.
std::vector<AgpFunctionInfo> ListAgpFunctions(const std::vector<PciDumpFunction>& functions);

// "01:00.0", as lspci writes a function of domain 0.
std::string PciSlotWords(unsigned bus, unsigned devFn);

// The lines that show one capability:
//   "01:00.0 class 0300 AGP capability at 44: AGP version 2.0"
//   "  Status: RQ=32 Iso- ArqSz=0 Cal=0 SBA+ ... Rate=x1,x2"
//   "  Command: RQ=32 ArqSz=0 Cal=0 SBA- AGP+ ... Rate=x1"
// The last two only when the registers are shown; the text after
// "Status: " and "Command: " is lspci's, word for word.
std::vector<std::string> AgpFunctionLines(const AgpFunctionInfo& info);

// All lines of all capabilities, each ended by a line feed.
std::string FormatAgpFunctions(const std::vector<AgpFunctionInfo>& functions);

#endif
