// pciutils' own lspci reads each machine file without complaint, lists the
// same functions as our reader and shows the same configuration bytes; so
// it does for the posted forms it reads, for damaged dumps and for what
// FormatPciDump writes.
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "hw_test_util.h"
#include "posted_dump.h"
#include "run_command.h"

namespace {

std::string Slot(const PciDumpFunction& f)
{
    char text[16];
    std::snprintf(text, sizeof text, "0000:%02x:%02x.%d", f.bus, f.devFn >> 3, f.devFn & 7);
    return text;
}

// Slots of the function lines of `lspci -D` output, domain 0 only.
std::vector<std::string> ListedSlots(const std::string& out)
{
    std::vector<std::string> slots;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line))
        if (line.size() >= 12 && line[4] == ':' && line.compare(0, 5, "0000:") == 0)
            slots.push_back(line.substr(0, 12));
    std::sort(slots.begin(), slots.end());
    return slots;
}

std::vector<std::string> MachineFiles()
{
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(LUMBREL_MACHINES_DIR))
        if (entry.is_regular_file() && entry.path().extension() == ".txt")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::string WriteTemp(const std::string& name, const std::string& text)
{
    const std::string path = ::testing::TempDir() + "lumbrel-" + name + ".txt";
    std::ofstream file(path, std::ios::binary);
    file << text;
    return path;
}

// lspci reads `path` as we read it into `ours`: it lists the same
// functions and shows the same bytes. It shows 256 bytes of a function that
// gives them all, the first 64 of one that gives fewer, and none of one
// that gives fewer than 64.
void ExpectLspciReadsAsWeDo(const std::string& path, const std::vector<PciDumpFunction>& ours)
{
    ASSERT_EQ(path.find('\''), std::string::npos);
    std::vector<std::string> ourSlots;
    for (const PciDumpFunction& f : ours) ourSlots.push_back(Slot(f));
    std::sort(ourSlots.begin(), ourSlots.end());

    const CommandResult listed = RunCommand("lspci -D -F '" + path + "'");
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_EQ(Complaints(listed.err), "");
    EXPECT_EQ(ListedSlots(listed.out), ourSlots);

    // The verbose form with the hex dump reads back into the same bytes.
    const CommandResult dumped = RunCommand("lspci -F '" + path + "' -vv -xxx");
    EXPECT_EQ(dumped.exitCode, 0);
    EXPECT_EQ(Complaints(dumped.err), "");
    std::vector<PciDumpFunction> theirs;
    std::vector<std::string> warnings;  // for functions lspci shows no bytes of
    std::string error;
    ASSERT_TRUE(ParsePciDump(dumped.out, "lspci output", theirs, warnings, error)) << error;
    ASSERT_EQ(theirs.size(), ours.size());
    for (const PciDumpFunction& f : ours) {
        const auto match = std::find_if(theirs.begin(), theirs.end(), [&](const PciDumpFunction& t) {
            return t.bus == f.bus && t.devFn == f.devFn;
        });
        ASSERT_NE(match, theirs.end()) << Slot(f);
        const unsigned shown = f.bytesGiven >= 256 ? 256 : f.bytesGiven >= 64 ? 64 : 0;
        EXPECT_EQ(match->bytesGiven, shown) << Slot(f);
        EXPECT_EQ(std::memcmp(match->config, f.config, shown), 0) << Slot(f);
    }
}

TEST(MachineFilesTest, LspciReadsEachFileAsWeDoAndWeWarnOfNothing)
{
    const std::vector<std::string> files = MachineFiles();
    ASSERT_FALSE(files.empty());
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        std::vector<PciDumpFunction> ours;
        std::vector<std::string> warnings;
        std::string error;
        ASSERT_TRUE(LoadPciDumpFile(path, ours, warnings, error)) << error;
        EXPECT_TRUE(warnings.empty()) << warnings[0];
        ExpectLspciReadsAsWeDo(path, ours);

        // What FormatPciDump writes, lspci reads too, also where a
        // description is empty.
        for (PciDumpFunction& f : ours) f.description.clear();
        ExpectLspciReadsAsWeDo(WriteTemp("formatted", FormatPciDump(ours)), ours);
    }
}

// The posted forms that lspci reads as well: it takes the same functions
// and bytes from them as we do.
TEST(MachineFilesTest, LspciReadsPostedFormsAsWeDo)
{
    for (const std::string& path : MachineFiles()) {
        const std::string text = ReadFile(path);
        for (const posted::Variant& variant : posted::Variants()) {
            if (!variant.lspciReads) continue;
            SCOPED_TRACE(path + ", " + variant.name);
            const std::string form = WriteTemp("posted", variant.make(text));
            std::vector<PciDumpFunction> ours;
            std::string error;
            if (!LoadPciDumpFile(form, ours, error)) continue;  // text around an empty bus
            ExpectLspciReadsAsWeDo(form, ours);
        }
    }
}

// Damaged dumps that lspci reads: we read them as it does, and warn.
TEST(MachineFilesTest, LspciReadsDamagedDumpsAsWeDo)
{
    const std::vector<std::string> plain = posted::Lines(ReadFile(MachinePath("agp2x-classic.txt")));
    // Index of the line of row `offset` of the function at `slot`.
    auto rowLine = [&](const std::string& slot, const char* offset) {
        size_t i = 0;
        while (i < plain.size() && plain[i].compare(0, slot.size(), slot) != 0) ++i;
        while (i < plain.size() && !posted::IsRow(plain[i], offset)) ++i;
        return i;
    };
    using Lines = std::vector<std::string>;
    struct Case {
        const char* what;
        std::function<void(Lines&)> damage;
    } cases[] = {
        {"a row one byte short", [&](Lines& l) { l[rowLine("00:00.0", "30")].resize(49); }},
        {"a row of 17 bytes and the next row missing",
         [&](Lines& l) {
             l[rowLine("01:00.0", "70")] += " 5a";
             l.erase(l.begin() + static_cast<long>(rowLine("01:00.0", "80")));
         }},
        {"a row missing", [&](Lines& l) { l.erase(l.begin() + static_cast<long>(rowLine("00:00.0", "20"))); }},
        {"two rows swapped",
         [&](Lines& l) { std::swap(l[rowLine("00:01.0", "10")], l[rowLine("00:01.0", "20")]); }},
        {"a row given again with other bytes",
         [&](Lines& l) {
             l.insert(l.begin() + static_cast<long>(rowLine("01:00.0", "f0")) + 1,
                      "a0: 02 00 20 00 03 02 00 1f 00 00 00 00 00 00 00 00");
         }},
        {"a blank line before the rows of the capability",
         [&](Lines& l) { l.insert(l.begin() + static_cast<long>(rowLine("01:00.0", "80")), ""); }},
        {"a function cut after 48 bytes",
         [&](Lines& l) {
             const size_t at = rowLine("00:07.3", "30");
             l.erase(l.begin() + static_cast<long>(at), l.begin() + static_cast<long>(at) + 13);
         }},
        {"a row before the first function",
         [&](Lines& l) { l.insert(l.begin(), "00: 86 80 90 71 06 00 10 22 03 00 00 06 00 40 00 00"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Lines lines = plain;
        c.damage(lines);
        const std::string path = WriteTemp("damaged", posted::Join(lines));
        std::vector<PciDumpFunction> ours;
        std::vector<std::string> warnings;
        std::string error;
        ASSERT_TRUE(LoadPciDumpFile(path, ours, warnings, error)) << error;
        EXPECT_FALSE(warnings.empty());
        ExpectLspciReadsAsWeDo(path, ours);
    }
}

}  // namespace
