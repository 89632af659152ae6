// Every machine file is plain `lspci -xxx` text: pciutils' own lspci reads
// it without complaint, lists the same functions as our reader, and shows
// the same configuration bytes.
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "hw_test_util.h"

namespace {

struct CommandResult {
    int exitCode = -1;
    std::string out, err;
};

CommandResult RunCommand(const std::string& command)
{
    CommandResult result;
    const std::string errPath = ::testing::TempDir() + "lumbrel-lspci-stderr.txt";
    FILE* pipe = popen((command + " 2>'" + errPath + "'").c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(errPath);
    std::ostringstream text;
    text << err.rdbuf();
    result.err = text.str();
    std::remove(errPath.c_str());
    return result;
}

// lspci's complaints, without its note that it cannot load kernel-module
// data (which has nothing to do with the file).
std::string Complaints(const std::string& err)
{
    std::istringstream in(err);
    std::string line, complaints;
    while (std::getline(in, line))
        if (!line.empty() && line.find("libkmod") == std::string::npos) complaints += line + "\n";
    return complaints;
}

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

TEST(MachineFilesTest, LspciReadsEachFileAsWeDo)
{
    const std::vector<std::string> files = MachineFiles();
    ASSERT_FALSE(files.empty());
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        ASSERT_EQ(path.find('\''), std::string::npos);

        std::vector<PciDumpFunction> ours;
        std::string error;
        ASSERT_TRUE(LoadPciDumpFile(path, ours, error)) << error;
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
        ASSERT_TRUE(ParsePciDump(dumped.out, "lspci output", theirs, error)) << error;
        ASSERT_EQ(theirs.size(), ours.size());
        for (const PciDumpFunction& f : ours) {
            const auto match = std::find_if(theirs.begin(), theirs.end(), [&](const PciDumpFunction& t) {
                return t.bus == f.bus && t.devFn == f.devFn;
            });
            ASSERT_NE(match, theirs.end()) << Slot(f);
            EXPECT_EQ(std::memcmp(match->config, f.config, 256), 0) << Slot(f);
        }
    }
}

}  // namespace
