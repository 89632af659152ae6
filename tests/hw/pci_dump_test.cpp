// The reader of `lspci -xxx` text: the forms it accepts and the errors it
// gives for malformed input.
#include <cstdio>
#include <string>
#include <vector>

#include "hw_test_util.h"

namespace {

uint8_t ExpectedByte(unsigned seed, unsigned offset)
{
    return (offset * 7 + (offset >> 8) * 13 + seed) & 0xFF;  // extended space differs
}

// `lines` hex lines from offset first * 16 ("00:" .. "f0:", then "100:" ..),
// the byte at offset i being ExpectedByte(seed, i).
std::string HexLines(unsigned seed, unsigned lines = 16, unsigned first = 0,
                     const char* eol = "\n")
{
    std::string text;
    char buffer[8];
    for (unsigned row = first; row < first + lines; ++row) {
        std::snprintf(buffer, sizeof buffer, row < 16 ? "%02x:" : "%03x:", row * 16);
        text += buffer;
        for (unsigned i = 0; i < 16; ++i) {
            std::snprintf(buffer, sizeof buffer, " %02x", ExpectedByte(seed, row * 16 + i));
            text += buffer;
        }
        text += eol;
    }
    return text;
}

bool Parse(const std::string& text, std::vector<PciDumpFunction>& functions, std::string& error)
{
    return ParsePciDump(text, "m.txt", functions, error);
}

void ExpectBytes(const PciDumpFunction& f, unsigned seed, unsigned upTo = 256)
{
    for (unsigned i = 0; i < 256; ++i)
        ASSERT_EQ(f.config[i], i < upTo ? ExpectedByte(seed, i) : 0) << "offset " << i;
}

TEST(PciDumpTest, FunctionsWithTheirPlaceDescriptionAndBytes)
{
    const std::string text = "00:00.0 Host bridge: Intel Corporation 440BX (rev 03)\n" + HexLines(1) +
                             "\n" + "1f:1e.7 VGA compatible controller\n" + HexLines(2) + "\n" +
                             "ff:00.3\n" + HexLines(3);
    std::vector<PciDumpFunction> functions;
    std::string error;
    ASSERT_TRUE(Parse(text, functions, error)) << error;
    ASSERT_EQ(functions.size(), 3u);
    EXPECT_EQ(functions[0].bus, 0);
    EXPECT_EQ(functions[0].devFn, 0);
    EXPECT_EQ(functions[0].line, 1u);
    EXPECT_EQ(functions[0].description, "Host bridge: Intel Corporation 440BX (rev 03)");
    ExpectBytes(functions[0], 1);
    EXPECT_EQ(functions[1].bus, 0x1F);
    EXPECT_EQ(functions[1].devFn, DevFn(0x1E, 7));
    EXPECT_EQ(functions[1].line, 19u);
    ExpectBytes(functions[1], 2);
    EXPECT_EQ(functions[2].bus, 0xFF);
    EXPECT_EQ(functions[2].devFn, 3);
    EXPECT_EQ(functions[2].description, "");
    ExpectBytes(functions[2], 3);
}

TEST(PciDumpTest, AcceptedForms)
{
    struct Case {
        const char* what;
        std::string text;
        unsigned count;        // functions kept
        unsigned bytesGiven;   // bytes given for the first function
    } cases[] = {
        {"domain prefix", "0000:01:00.0 VGA\n" + HexLines(5), 1, 256},
        {"detail lines of lspci -v",
         "01:00.0 VGA\n\tControl: I/O+ Mem+\n\tCapabilities: [44] AGP version 2.0\n"
         "\t\tStatus: RQ=32\n" + HexLines(5) + "\n",
         1, 256},
        {"comments", "# a machine\n#\n01:00.0 VGA\n# in between\n" + HexLines(5) + "# end\n", 1,
         256},
        {"CRLF line ends", "01:00.0 VGA\r\n" + HexLines(5, 16, 0, "\r\n") + "\r\n", 1, 256},
        {"no line feed at the end", "01:00.0 VGA\n" + HexLines(5).substr(0, HexLines(5).size() - 1),
         1, 256},
        {"only 64 bytes (lspci -x)", "01:00.0 VGA\n" + HexLines(5, 4), 1, 64},
        {"only the first line", "01:00.0 VGA\n" + HexLines(5, 1), 1, 16},
        {"extended space (lspci -xxxx)", "01:00.0 VGA\n" + HexLines(5, 256), 1, 256},
        {"other domains left out",
         "0001:00:00.0 Host bridge\n" + HexLines(9) + "\n01:00.0 VGA\n" + HexLines(5) +
             "\n0002:01:00.0 VGA\n" + HexLines(9, 4),
         1, 256},
        {"the same place in another domain is no duplicate",
         "01:00.0 VGA\n" + HexLines(5) + "\n0001:01:00.0 VGA\n" + HexLines(9), 1, 256},
        {"nothing but comments", "# empty\n\n", 0, 0},
        {"nothing at all", "", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<PciDumpFunction> functions;
        std::string error;
        ASSERT_TRUE(Parse(c.text, functions, error)) << error;
        ASSERT_EQ(functions.size(), c.count);
        if (c.count == 0) continue;
        EXPECT_EQ(functions[0].bus, 1);
        EXPECT_EQ(functions[0].devFn, 0);
        EXPECT_EQ(functions[0].description, "VGA");
        ExpectBytes(functions[0], 5, c.bytesGiven);
        EXPECT_EQ(functions[0].bytesGiven, c.bytesGiven);
    }
}

TEST(PciDumpTest, MalformedInputNamesFileAndLine)
{
    const std::string good = HexLines(1);
    struct Case {
        const char* what;
        std::string text;
        std::string where;  // "m.txt:LINE:"
        std::string says;   // part of the message
    } cases[] = {
        {"hex line before any function", "# x\n" + good, "m.txt:2:", "before the first function"},
        {"garbage line", "00:00.0 A\n" + good + "hello\n", "m.txt:18:", "hello"},
        {"bad bus", "0g:00.0 A\n" + good, "m.txt:1:", "function line"},
        {"missing dot", "00:00:0 A\n" + good, "m.txt:1:", "function line"},
        {"no space before the description", "00:00.0A\n" + good, "m.txt:1:", "function line"},
        {"device above 1f", "00:20.0 A\n" + good, "m.txt:1:", "device number"},
        {"function above 7", "00:00.8 A\n" + good, "m.txt:1:", "function number"},
        {"hex lines out of order", "00:00.0 A\n" + HexLines(1, 1) + HexLines(1, 1, 2), "m.txt:3:",
         "expected the hex line 10:"},
        {"hex lines start late", "00:00.0 A\n" + HexLines(1, 1, 1), "m.txt:2:",
         "expected the hex line 00:"},
        {"hex lines repeated", "00:00.0 A\n" + good + good, "m.txt:18:",
         "expected the hex line 100:"},
        {"15 bytes", "00:00.0 A\n00: 00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee\n", "m.txt:2:",
         "16 bytes"},
        {"17 bytes", "00:00.0 A\n00: 00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff 00\n",
         "m.txt:2:", "16 bytes"},
        {"byte not hex", "00:00.0 A\n00: 00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee fg\n",
         "m.txt:2:", "byte 15"},
        {"byte with one digit",
         "00:00.0 A\n00: 00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee  f\n", "m.txt:2:", "byte 15"},
        {"tab between bytes", "00:00.0 A\n00: 00\t11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff\n",
         "m.txt:2:", "byte 1"},
        {"function given twice", "00:00.0 A\n" + good + "\n00:00.0 B\n" + good, "m.txt:19:",
         "line 1"},
        {"same function, domain written out", "00:00.0 A\n" + good + "0000:00:00.0 B\n" + good,
         "m.txt:18:", "line 1"},
        {"function without bytes", "00:00.0 A\n00:01.0 B\n" + good, "m.txt:2:",
         "no configuration bytes"},
        {"last function without bytes", "00:00.0 A\n" + good + "\n00:01.0 B\n\n", "m.txt:20:",
         "no configuration bytes"},
        {"past the extended space",
         "00:00.0 A\n" + HexLines(1, 256) + "1000: 00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff\n",
         "m.txt:258:", "1000:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<PciDumpFunction> functions(1);
        functions[0].bus = 0x42;
        std::string error;
        EXPECT_FALSE(Parse(c.text, functions, error));
        EXPECT_EQ(error.rfind(c.where, 0), 0u) << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        // The caller's list is left alone on failure.
        ASSERT_EQ(functions.size(), 1u);
        EXPECT_EQ(functions[0].bus, 0x42);
    }
}

TEST(PciDumpTest, FileErrorsNameThePath)
{
    std::vector<PciDumpFunction> functions;
    std::string error;
    EXPECT_FALSE(LoadPciDumpFile("/nonexistent/machine.txt", functions, error));
    EXPECT_EQ(error.rfind("/nonexistent/machine.txt:", 0), 0u) << error;

    const std::string path = ::testing::TempDir() + "lumbrel-bad-machine.txt";
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("# bad\n00:00.0 A\n00: 00\n", file);
    std::fclose(file);
    EXPECT_FALSE(LoadPciDumpFile(path, functions, error));
    EXPECT_EQ(error.rfind(path + ":3:", 0), 0u) << error;
    std::remove(path.c_str());
}

TEST(PciDumpTest, FormatReadsBackTheSame)
{
    std::vector<PciDumpFunction> functions;
    std::string error;
    ASSERT_TRUE(LoadPciDumpFile(MachinePath("agp2x-classic.txt"), functions, error)) << error;
    std::vector<PciDumpFunction> again;
    ASSERT_TRUE(ParsePciDump(FormatPciDump(functions), "formatted", again, error)) << error;
    ASSERT_EQ(again.size(), functions.size());
    for (size_t i = 0; i < functions.size(); ++i) {
        EXPECT_EQ(again[i].bus, functions[i].bus);
        EXPECT_EQ(again[i].devFn, functions[i].devFn);
        EXPECT_EQ(again[i].description, functions[i].description);
        EXPECT_EQ(std::memcmp(again[i].config, functions[i].config, 256), 0);
    }
}

}  // namespace
