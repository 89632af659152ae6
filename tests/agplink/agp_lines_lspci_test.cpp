// Our AGP lines against pciutils' own: for every machine file and for
// dumps made here that sweep each field and bit of the AGP registers and
// each turn of a capability walk, the lines equal those that
// `lspci -F FILE -vv` prints.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>

#include "agp_functions.h"
#include "lspci_lines.h"
#include "pci_dump.h"
#include "pci_machine.h"

namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// lspci's AGP lines of a file, after checking that it read the file cleanly.
std::vector<std::string> LspciAgpLines(const std::string& path)
{
    const CommandResult result = RunCommand("lspci -D -n -vv -F '" + path + "'");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(Complaints(result.err), "");
    return AgpLinesOfLspci(result.out);
}

// Compares line by line, so that a failure shows the first lines that differ.
void ExpectSameLines(const std::vector<std::string>& ours, const std::vector<std::string>& theirs)
{
    for (size_t i = 0; i < std::min(ours.size(), theirs.size()); ++i)
        ASSERT_EQ(ours[i], theirs[i]) << "line " << i;
    ASSERT_EQ(ours.size(), theirs.size());
}

// Our lines for a file: from the parsed functions, and, when every function
// gives all its bytes, from the machine built of them too. `theirs` gets
// lspci's lines.
void ExpectLinesOfLspci(const std::string& path, std::vector<std::string>& theirs)
{
    ASSERT_EQ(path.find('\''), std::string::npos);
    // Dumps cut short on purpose (lspci without root) are read with the
    // reader's warnings about them.
    std::vector<PciDumpFunction> functions;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(LoadPciDumpFile(path, functions, warnings, error)) << error;
    theirs = LspciAgpLines(path);
    ExpectSameLines(Lines(FormatAgpFunctions(ListAgpFunctions(functions))), theirs);

    if (functions.size() <= kMaxMachineFunctions &&
        std::all_of(functions.begin(), functions.end(),
                    [](const PciDumpFunction& f) { return f.bytesGiven == 256; })) {
        std::unique_ptr<PciMachine> machine(new PciMachine);
        ASSERT_TRUE(BuildPciMachine(functions, *machine, error)) << error;
        ExpectSameLines(Lines(FormatAgpFunctions(ListAgpFunctions(*machine))), theirs);
    }
}

TEST(AgpLinesLspciTest, EveryMachineFile)
{
    unsigned withAgp = 0;
    for (const auto& entry : std::filesystem::directory_iterator(LUMBREL_MACHINES_DIR)) {
        if (entry.path().extension() != ".txt") continue;
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        std::vector<std::string> theirs;
        ExpectLinesOfLspci(path, theirs);
        withAgp += !theirs.empty();
    }
    // The classic machine and the other AGP boards are among them.
    EXPECT_GE(withAgp, 8u);
}

// A host bridge with a capability list whose first pointer is `pointer`.
DumpFunction Bridge(unsigned index, uint8_t pointer, uint8_t headerType = 0)
{
    DumpFunction f;
    f.bus = static_cast<uint8_t>(index >> 8);
    f.devFn = static_cast<uint8_t>(index);
    f.Set32(0x00, 0x71908086);
    f.Set32(0x04, 0x00100006);
    f.Set32(0x08, 0x06000003);
    f.Set8(0x0e, headerType);
    f.Set8(headerType == 2 ? 0x14 : 0x34, pointer);
    return f;
}

// A capability header, and for AGP its status and command.
void Cap(DumpFunction& f, unsigned offset, uint8_t id, uint8_t next, uint8_t revision = 0x20,
         uint32_t status = 0x1f000203, uint32_t command = 0x00000101)
{
    f.Set8(offset, id);
    f.Set8(offset + 1, next);
    f.Set8(offset + 2, revision);
    if (id != 2) return;
    if (offset + 4 < 256) f.Set32(offset + 4, status);
    if (offset + 8 < 256) f.Set32(offset + 8, command);
}

// lspci's AGP lines of the functions, which ours must equal.
std::vector<std::string> ExpectSameAsLspci(const std::vector<DumpFunction>& functions,
                                           const std::string& name)
{
    const std::string path = WriteTempFile(name, DumpText(functions));
    std::vector<std::string> theirs;
    ExpectLinesOfLspci(path, theirs);
    std::remove(path.c_str());
    return theirs;
}

size_t CountStarting(const std::vector<std::string>& lines, const std::string& start)
{
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.compare(0, start.size(), start) == 0;
    }));
}

TEST(AgpLinesLspciTest, EveryFieldAndBitOfStatusAndCommand)
{
    // Versions below, at and above 3 (the AGP 3.0 mode needs 3 or more)
    // and odd digits; each with the AGP3 status bit clear and set.
    const uint8_t revisions[] = {0x10, 0x20, 0x30, 0x35, 0x00, 0x0f, 0xab, 0xff};
    std::vector<DumpFunction> functions;
    auto add = [&](uint8_t revision, uint32_t status, uint32_t command) {
        DumpFunction f = Bridge(static_cast<unsigned>(functions.size()), 0xa0);
        Cap(f, 0xa0, 2, 0, revision, status, command);
        functions.push_back(f);
    };
    for (uint8_t revision : revisions) {
        for (uint32_t agp3 : {0u, 8u}) {
            for (unsigned bit = 0; bit < 32; ++bit) add(revision, 1u << bit | agp3, 1u << bit);
            // Every combination of rate bits, the reserved bit 2 among them.
            for (uint32_t rate = 0; rate < 8; ++rate) add(revision, rate | agp3, rate);
            add(revision, 0xffffffff, 0xffffffff);
            // Request queue fields 0 and 0xff.
            add(revision, 0xff000000 | agp3, 0x00000000);
            add(revision, 0x00000000 | agp3, 0xff000000);
        }
    }
    // The byte above the revision is no part of the version.
    DumpFunction upper = Bridge(static_cast<unsigned>(functions.size()), 0xa0);
    Cap(upper, 0xa0, 2, 0, 0x30, 0x1f00020b, 0x00000102);
    upper.Set8(0xa3, 0xff);
    functions.push_back(upper);
    // Each function shows its version, status and command.
    EXPECT_EQ(ExpectSameAsLspci(functions, "agplink-registers.txt").size(), 3 * functions.size());
}

TEST(AgpLinesLspciTest, EveryTurnOfTheCapabilityWalk)
{
    std::vector<DumpFunction> functions;
    auto next = [&](uint8_t pointer, uint8_t headerType = 0) -> DumpFunction& {
        functions.push_back(Bridge(static_cast<unsigned>(functions.size()), pointer, headerType));
        return functions.back();
    };
    // The capabilities-list bit of the status register decides.
    Cap(next(0xa0), 0xa0, 2, 0);
    functions.back().Set32(0x04, 0x00000006);
    // Pointers lose their two low bits, in register 0x34 and in the list.
    for (uint8_t pointer : {0xa1, 0xa2, 0xa3}) Cap(next(pointer), 0xa0, 2, 0);
    {
        DumpFunction& f = next(0x50);
        Cap(f, 0x50, 1, 0xa3);
        Cap(f, 0xa0, 2, 0);
    }
    // 0 (and 1 to 3) end the list; other pointers below 0x40 are followed.
    for (uint8_t pointer : {0x00, 0x02, 0x10, 0x18, 0x3c}) Cap(next(pointer), pointer & ~3u, 2, 0);
    // Cycles: an AGP capability pointing at itself, two headers pointing
    // at each other, a cycle through a pointer with low bits set.
    Cap(next(0x40), 0x40, 2, 0x40);
    {
        DumpFunction& f = next(0x40);
        Cap(f, 0x40, 2, 0x50);
        Cap(f, 0x50, 1, 0x40);
    }
    {
        DumpFunction& f = next(0x43);
        Cap(f, 0x40, 1, 0x51);
        Cap(f, 0x50, 2, 0x42, 0x30, 0x1f000a1b, 0x1f000312);
    }
    // Every dword from 0x40 on an AGP capability, the last one pointing
    // back to the first: each is shown once, its registers overlapping the
    // next headers, and the walk ends.
    {
        DumpFunction& f = next(0x40);
        for (unsigned offset = 0x40; offset < 0x100; offset += 4)
            Cap(f, offset, 2, static_cast<uint8_t>(offset == 0xfc ? 0x40 : offset + 4),
                static_cast<uint8_t>(offset));
    }
    // Two AGP capabilities in one list; a null one before AGP; ID 0xff
    // breaks the chain.
    {
        DumpFunction& f = next(0x40);
        Cap(f, 0x40, 2, 0x50);
        Cap(f, 0x50, 2, 0, 0x30, 0x1f004a0b, 0x00000302);
    }
    {
        DumpFunction& f = next(0x40);
        Cap(f, 0x40, 0, 0x50);
        Cap(f, 0x50, 2, 0);
    }
    {
        DumpFunction& f = next(0x40);
        Cap(f, 0x40, 0xff, 0x50);
        Cap(f, 0x50, 2, 0);
    }
    // Near the end of the space the registers fall outside it.
    for (uint8_t offset : {0xf0, 0xf4, 0xf8, 0xfc}) Cap(next(offset), offset, 2, 0);
    // Header types: bridges (also with the multi-function bit) read 0x34,
    // CardBus bridges 0x14, other types have no list.
    for (uint8_t type : {0x01, 0x81, 0x02, 0x82, 0x03, 0x7f}) Cap(next(0xa0, type), 0xa0, 2, 0);
    {
        DumpFunction& f = next(0xa0, 2);  // CardBus with a pointer at 0x34 only
        f.Set8(0x14, 0);
        f.Set8(0x34, 0xa0);
        Cap(f, 0xa0, 2, 0);
    }
    // Identification dwords that count as absent elsewhere are listed here.
    for (uint32_t id : {0xffffffffu, 0u}) {
        DumpFunction& f = next(0xa0);
        f.Set32(0x00, id);
        Cap(f, 0xa0, 2, 0);
    }
    // Listed in reverse: lspci sorts by bus and device/function, and so do we.
    std::reverse(functions.begin(), functions.end());
    const std::vector<std::string> theirs = ExpectSameAsLspci(functions, "agplink-walk.txt");
    // The full cycle alone shows 48.
    EXPECT_GT(CountStarting(theirs, "  Status: "), 48u);
}

TEST(AgpLinesLspciTest, DumpsThatGiveFewerBytes)
{
    // As lspci without root: a list that leaves the bytes given ends there,
    // and status and command show only when all of them are given.
    std::vector<DumpFunction> functions;
    struct Short {
        unsigned bytesGiven;
        uint8_t offset;
    };
    const Short cases[] = {{0x40, 0xa0}, {0x40, 0x10}, {0x40, 0x38}, {0x50, 0x40}, {0xa0, 0xa0},
                           {0xb0, 0xa0}, {0xa0, 0x94}, {0xa0, 0x98}, {0xa0, 0x9c}, {0x30, 0x10}};
    for (const Short& c : cases) {
        DumpFunction f = Bridge(static_cast<unsigned>(functions.size()), c.offset);
        Cap(f, c.offset, 2, 0);
        f.bytesGiven = c.bytesGiven;
        functions.push_back(f);
    }
    // A list that goes on beyond the bytes given after an AGP capability.
    DumpFunction f = Bridge(static_cast<unsigned>(functions.size()), 0x40);
    Cap(f, 0x40, 2, 0xc0);
    Cap(f, 0xc0, 2, 0);
    f.bytesGiven = 0x80;
    functions.push_back(f);
    const std::vector<std::string> theirs = ExpectSameAsLspci(functions, "agplink-short.txt");
    // Some show their registers, some only their version.
    EXPECT_GE(CountStarting(theirs, "  Status: "), 3u);
    EXPECT_GT(CountStarting(theirs, "00:"), CountStarting(theirs, "  Status: "));
}

}  // namespace
