// The reader of `lspci -xxx` text: the forms it accepts, dumps as people
// post them, the warnings it gives for damaged data and the errors for
// text that holds no dump.
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "hw_test_util.h"
#include "posted_dump.h"

namespace {

uint8_t ExpectedByte(unsigned seed, unsigned offset)
{
    return (offset * 7 + (offset >> 8) * 13 + seed) & 0xFF;  // extended space differs
}

// `lines` hex rows from offset first * 16 ("00:" .. "f0:", then "100:" ..),
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

// Row `row` of seed `seed` as HexLines writes it.
std::string Row(unsigned seed, unsigned row) { return HexLines(seed, 1, row); }

struct Parsed {
    bool ok = false;
    std::vector<PciDumpFunction> functions;
    std::vector<std::string> warnings;
    std::string error;
};

Parsed Parse(const std::string& text)
{
    Parsed p;
    p.ok = ParsePciDump(text, "m.txt", p.functions, p.warnings, p.error);
    return p;
}

std::string AllWarnings(const Parsed& p)
{
    std::string all;
    for (const std::string& w : p.warnings) all += w + "\n";
    return all;
}

void ExpectBytes(const PciDumpFunction& f, unsigned seed, unsigned upTo = 256)
{
    for (unsigned i = 0; i < 256; ++i)
        ASSERT_EQ(f.config[i], i < upTo ? ExpectedByte(seed, i) : 0) << "offset " << i;
}

void ExpectSameFunctions(const std::vector<PciDumpFunction>& got,
                         const std::vector<PciDumpFunction>& want)
{
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].bus, want[i].bus);
        EXPECT_EQ(got[i].devFn, want[i].devFn);
        EXPECT_EQ(got[i].description, want[i].description);
        EXPECT_EQ(got[i].bytesGiven, want[i].bytesGiven);
        EXPECT_EQ(std::memcmp(got[i].config, want[i].config, 256), 0);
    }
}

bool PrintableAscii(const std::string& text)
{
    for (unsigned char c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

TEST(PciDumpTest, FunctionsWithTheirPlaceDescriptionAndBytes)
{
    const std::string text = "00:00.0 Host bridge: Intel Corporation 440BX (rev 03)\n" + HexLines(1) +
                             "\n" + "1f:1e.7 VGA compatible controller\n" + HexLines(2) + "\n" +
                             "ff:00.3 \n" + HexLines(3);
    const Parsed p = Parse(text);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(AllWarnings(p), "");
    ASSERT_EQ(p.functions.size(), 3u);
    EXPECT_EQ(p.functions[0].bus, 0);
    EXPECT_EQ(p.functions[0].devFn, 0);
    EXPECT_EQ(p.functions[0].line, 1u);
    EXPECT_EQ(p.functions[0].description, "Host bridge: Intel Corporation 440BX (rev 03)");
    ExpectBytes(p.functions[0], 1);
    EXPECT_EQ(p.functions[1].bus, 0x1F);
    EXPECT_EQ(p.functions[1].devFn, DevFn(0x1E, 7));
    EXPECT_EQ(p.functions[1].line, 19u);
    ExpectBytes(p.functions[1], 2);
    EXPECT_EQ(p.functions[2].bus, 0xFF);
    EXPECT_EQ(p.functions[2].devFn, 3);
    EXPECT_EQ(p.functions[2].description, "");
    ExpectBytes(p.functions[2], 3);
}

TEST(PciDumpTest, AcceptedFormsReadWithoutWarnings)
{
    const std::string rows = HexLines(5);
    std::string spaced = rows;  // irregular blanks between the bytes
    for (size_t at = spaced.find(" 0"); at != std::string::npos; at = spaced.find(" 0", at + 3))
        spaced.replace(at, 1, " \t ");
    std::string upper = rows;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    struct Case {
        const char* what;
        std::string text;
        unsigned count;          // functions kept
        unsigned bytesGiven;     // bytes given for the first function
        const char* description = "VGA";
    } cases[] = {
        {"domain prefix", "0000:01:00.0 VGA\n" + rows, 1, 256},
        {"comments", "# a machine\n#\n01:00.0 VGA\n# in between\n" + rows + "# end\n", 1, 256},
        {"no line feed at the end", "01:00.0 VGA\n" + rows.substr(0, rows.size() - 1), 1, 256},
        {"only 64 bytes (lspci -x)", "01:00.0 VGA\n" + HexLines(5, 4), 1, 64},
        {"extended space (lspci -xxxx)", "01:00.0 VGA\n" + HexLines(5, 256), 1, 256},
        {"blanks and tabs between bytes", "01:00.0 VGA\n" + spaced, 1, 256},
        {"upper-case digits", "01:00.0 VGA\n" + upper, 1, 256},
        {"trailing blanks", "01:00.0 VGA  \t\n" + posted::EachLine(rows, [](const std::string& l) {
             return std::vector<std::string>{l + " \t"};
         }), 1, 256},
        {"other domains left out",
         "0001:00:00.0 Host bridge\n" + HexLines(9) + "\n01:00.0 VGA\n" + rows +
             "\n0002:01:00.0 VGA\n" + HexLines(9, 4),
         1, 256},
        {"the same place in another domain is no duplicate",
         "01:00.0 VGA\n" + rows + "\n0001:01:00.0 VGA\n" + HexLines(9), 1, 256},
        {"lspci -x then lspci -xxx: one function with all bytes",
         "01:00.0 VGA\n" + HexLines(5, 4) + "\n01:00.0 VGA again\n" + rows, 1, 256},
        {"a description wrapped in its class name, lspci -v details unindented after it",
         "01:00.0 VGA compatible\ncontroller: S3 Inc.\nTrio64\nSubsystem: S3 Inc. Device\nFlags: "
         "medium devsel\n" + rows,
         1, 256, "VGA compatible controller: S3 Inc. Trio64"},
        {"a bare slot line where no line has a description",
         "$ lspci -xxx\n01:00.0\n" + rows, 1, 256, ""},
        {"nothing but comments, blank and quoted blank lines", "# empty\n\n   \n>\n> > \n# x\n", 0,
         0},
        {"nothing at all", "", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Parsed p = Parse(c.text);
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_EQ(AllWarnings(p), "");
        ASSERT_EQ(p.functions.size(), c.count);
        if (c.count == 0) continue;
        EXPECT_EQ(p.functions[0].bus, 1);
        EXPECT_EQ(p.functions[0].devFn, 0);
        EXPECT_EQ(p.functions[0].description, c.description);
        ExpectBytes(p.functions[0], 5, c.bytesGiven);
        EXPECT_EQ(p.functions[0].bytesGiven, c.bytesGiven);
    }
}

// Every machine file in each posted form reads as the plain file: the same
// functions, descriptions and bytes, and no warning.
TEST(PciDumpTest, PostedFormsReadAsThePlainFile)
{
    const std::vector<posted::Variant> variants = posted::Variants();
    std::vector<unsigned> changed(variants.size());  // files that each form changes
    for (const auto& entry : std::filesystem::directory_iterator(LUMBREL_MACHINES_DIR)) {
        const std::string path = entry.path().string();
        std::vector<PciDumpFunction> plain;
        std::string error;
        ASSERT_TRUE(LoadPciDumpFile(path, plain, error)) << error;
        if (plain.empty()) continue;  // prompts and notes would be text without a function
        std::ifstream file(path, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        for (size_t v = 0; v < variants.size(); ++v) {
            SCOPED_TRACE(path + ", " + variants[v].name);
            const std::string form = variants[v].make(text);
            changed[v] += form != text;
            const Parsed p = Parse(form);
            ASSERT_TRUE(p.ok) << p.error;
            EXPECT_EQ(AllWarnings(p), "");
            ExpectSameFunctions(p.functions, plain);
        }
    }
    for (size_t v = 0; v < variants.size(); ++v) EXPECT_GT(changed[v], 0u) << variants[v].name;
}

TEST(PciDumpTest, QuotedPrintableIsRecognisedOnlyWhenEncoded)
{
    const std::string rows = HexLines(5);
    struct Case {
        const char* what;
        std::string text;
        const char* description;
    } cases[] = {
        {"soft line break in the function line", "01:00.0 VGA compat=\nible: S3 =3D 1\n" + rows,
         "VGA compatible: S3 = 1"},
        {"escapes =3D, =20 and =09 with a soft break", "01:00.0 a=3Db=20c=09d=\n\n" + rows,
         "a=b c\td"},
        {"\"=\" at a line's end beside a '=' no encoder writes",
         "01:00.0 VGA=\n\tStatus: DEVSEL=medium RQ=32\n" + rows, "VGA="},
        {"escapes without a soft break or an encoded '='", "01:00.0 RQ=32 =20x\n" + rows,
         "RQ=32 =20x"},
        {"lower-case escapes", "01:00.0 a=3d=\n" + rows, "a=3d="},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Parsed p = Parse(c.text);
        ASSERT_TRUE(p.ok) << p.error;
        ASSERT_EQ(p.functions.size(), 1u) << AllWarnings(p);
        EXPECT_EQ(p.functions[0].description, c.description);
        ExpectBytes(p.functions[0], 5);
    }
    // A line number counts the file's lines, not the joined ones.
    const Parsed p = Parse("01:00.0 long=\n description=\n goes on\n" + Row(5, 0) + "20: 00\n");
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.functions.size(), 1u);
    EXPECT_EQ(p.functions[0].line, 1u);
    EXPECT_EQ(p.functions[0].description, "long description goes on");
    EXPECT_NE(AllWarnings(p).find("m.txt:5: row 20: out of order"), std::string::npos)
        << AllWarnings(p);
}

TEST(PciDumpTest, DamagedDataIsReadAsLspciReadsItAndReported)
{
    const std::string good = HexLines(1);
    const std::string header = "00:00.0 A\n";
    auto withRow = [&](unsigned row, const std::string& line) {
        std::string text = header;
        for (unsigned r = 0; r < 16; ++r) text += r == row ? line + "\n" : Row(1, r);
        return text;
    };
    struct Case {
        const char* what;
        std::string text;
        std::string warning;       // "m.txt:LINE: ..." start of the one warning
        unsigned functions = 1;
        int offset = -1;           // a byte of the first function to check
        int value = 0;
        unsigned bytesGiven = 256;
    } cases[] = {
        {"bad digit", withRow(0, "00: 01 08 0f 16 1d 24 2b 32 39 40 47 4e 55 4g 63 6a"),
         "m.txt:2: row 00: byte 0d is \"4g\", not two hex digits", 1, 0x0d, 0xff},
        {"bytes after a bad one are not read",
         withRow(0, "00: 01 08 0f 16 1d 24 2b 32 39 40 47 4e 55 4g 63 6a"),
         "m.txt:2: row 00: byte 0d", 1, 0x0e, 0xff},
        {"one-digit byte", withRow(3, "30: 51 58 5f 66 6d 74 7b 82 89 90 97 9e a5 ac b3 b"),
         "m.txt:5: row 30: byte 3f is \"b\"", 1, 0x3f, 0xff},
        {"15 bytes: the missing one reads as ff",
         withRow(0, "00: 01 08 0f 16 1d 24 2b 32 39 40 47 4e 55 5c 63"),
         "m.txt:2: row 00: holds 15 bytes instead of 16", 1, 0x0f, 0xff},
        {"17 bytes run on into the next place",
         header + HexLines(1, 3) + "30: 51 58 5f 66 6d 74 7b 82 89 90 97 9e a5 ac b3 ba 42\n",
         "m.txt:5: row 30: holds 17 bytes instead of 16", 1, 0x40, 0x42, 65},
        {"a row missing: its bytes read as ff", header + HexLines(1, 2) + HexLines(1, 13, 3),
         "m.txt:4: row 30: out of order: row 20: expected", 1, 0x20, 0xff},
        {"rows swapped: each is read at its offset",
         header + HexLines(1, 2) + Row(1, 3) + Row(1, 2) + HexLines(1, 12, 4),
         "m.txt:4: row 30: out of order: row 20: expected", 1, 0x25, ExpectedByte(1, 0x25)},
        {"a row given again: the later one counts",
         header + good + "00: 99 08 0f 16 1d 24 2b 32 39 40 47 4e 55 5c 63 6a\n",
         "m.txt:18: row 00: out of order: row 100: expected", 1, 0x00, 0x99},
        {"beyond the extended space", header + good + HexLines(1, 240, 16) +
                                          "1000: 00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff\n",
         "m.txt:258: row 1000: beyond the 4096 bytes"},
        {"only 48 bytes", header + HexLines(1, 3),
         "m.txt:1: 00:00.0 gives only 48 configuration bytes, fewer than the 64", 1, 0x30, 0, 48},
        {"no bytes", header + "\n01:00.0 B\n" + good,
         "m.txt:1: 00:00.0 gives no configuration bytes", 2, 0x00, 0, 0},
        {"rows after a blank line: left out, as lspci leaves them",
         header + HexLines(1, 4) + "\n" + HexLines(1, 12, 4),
         "m.txt:7: row 40: after the blank line that ends 00:00.0 (line 1)", 1, 0x40, 0, 64},
        {"a bare slot line beside lspci's function lines is text, as for lspci",
         header + good + "\n01:00.0\n" + HexLines(2, 4), "m.txt:20: row 00: after the blank line"},
        {"row before any function line", Row(1, 0) + header + good,
         "m.txt:1: row 00: before any function line"},
        {"device above 1f", "00:20.0 A\n" + good + "\n01:00.0 B\n" + good,
         "m.txt:1: 00:20.0: device number above 1f", 1},
        {"function above 7", "00:00.8 A\n" + good + "\n01:00.0 B\n" + good,
         "m.txt:1: 00:00.8: function number above 7", 1},
        {"a function given twice with other bytes: the first counts",
         header + good + "\n0000:00:00.0 B\n" + HexLines(2),
         "m.txt:19: 00:00.0 given again with other bytes than at line 1", 1, 0x00,
         ExpectedByte(1, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Parsed p = Parse(c.text);
        ASSERT_TRUE(p.ok) << p.error;
        ASSERT_FALSE(p.warnings.empty());
        EXPECT_EQ(p.warnings[0].rfind(c.warning, 0), 0u) << AllWarnings(p);
        ASSERT_EQ(p.functions.size(), c.functions);
        if (c.offset >= 0) {
            EXPECT_EQ(p.functions[0].config[c.offset], c.value);
            EXPECT_EQ(p.functions[0].bytesGiven, c.bytesGiven);
        }
    }
}

TEST(PciDumpTest, TextWithoutAFunctionIsAnError)
{
    std::string binary = "\x7f" "ELF\x01\x01\x01";
    for (int i = 0; i < 200; ++i) binary += static_cast<char>(0x1B + i * 7);
    struct Case {
        const char* what;
        std::string text;
        std::string where;  // "m.txt:LINE:"
        std::string says;   // part of the message
    } cases[] = {
        {"prose", "# my machine\n\n   \nhello\nworld\n", "m.txt:4:", "found \"hello\""},
        {"rows without a function line", HexLines(1, 2), "m.txt:1:", "found \"00: 01 08"},
        {"a slot without the space lspci needs, next to text", "Here:\n00:00.0A\n" + HexLines(1),
         "m.txt:1:", "\"BB:DD.F description\""},
        {"a binary file", binary + "\n" + HexLines(1), "m.txt:1:", "found \"\\x7fELF\\x01\\x01"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<PciDumpFunction> functions(1);
        functions[0].bus = 0x42;
        std::vector<std::string> warnings;
        std::string error;
        EXPECT_FALSE(ParsePciDump(c.text, "m.txt", functions, warnings, error));
        EXPECT_EQ(error.rfind(c.where, 0), 0u) << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_TRUE(PrintableAscii(error)) << error;
        // The caller's list is left alone on failure.
        ASSERT_EQ(functions.size(), 1u);
        EXPECT_EQ(functions[0].bus, 0x42);
    }
}

// A message quotes at most 60 bytes of the file, each byte outside
// printable ASCII as \xHH.
TEST(PciDumpTest, MessagesQuoteLittleAndOnlyPrintableText)
{
    std::string junk = "\x1b[2J\x80\xff";
    while (junk.size() < 500) junk += "\x1b]0;title\x07";
    struct Case {
        const char* what;
        std::string text;
        const char* quoted;
    } cases[] = {
        {"the error", "\t" + junk + "\n", "\"\\x09\\x1b[2J\\x80\\xff\\x1b]0;title\\x07"},
        {"a warning", "00:00.0 A\n00: " + junk + "\n" + HexLines(1, 15, 1),
         "\"\\x1b[2J\\x80\\xff\\x1b]0;title\\x07"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Parsed p = Parse(c.text);
        ASSERT_TRUE(p.ok || p.warnings.empty());
        ASSERT_TRUE(!p.ok || p.warnings.size() == 1) << AllWarnings(p);
        const std::string message = p.ok ? p.warnings[0] : p.error;
        EXPECT_TRUE(PrintableAscii(message)) << message;
        EXPECT_NE(message.find(c.quoted), std::string::npos) << message;
        EXPECT_NE(message.find("\"..."), std::string::npos) << message;
        EXPECT_LT(message.size(), 60u * 4 + 150) << message;
    }
}

TEST(PciDumpTest, FileMessagesNameThePath)
{
    std::vector<PciDumpFunction> functions;
    std::vector<std::string> warnings;
    std::string error;
    EXPECT_FALSE(LoadPciDumpFile("/nonexistent/machine.txt", functions, warnings, error));
    EXPECT_EQ(error.rfind("/nonexistent/machine.txt:", 0), 0u) << error;

    const std::string path = ::testing::TempDir() + "lumbrel-bad-machine.txt";
    auto write = [&](const char* text) {
        FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs(text, file);
        std::fclose(file);
    };
    write("# bad\nhello\n");
    EXPECT_FALSE(LoadPciDumpFile(path, functions, warnings, error));
    EXPECT_EQ(error.rfind(path + ":2: ", 0), 0u) << error;
    write("# short\n00:00.0 A\n00: 00\n");
    ASSERT_TRUE(LoadPciDumpFile(path, functions, warnings, error)) << error;
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0].rfind(path + ":2: 00:00.0 gives only 1 configuration byte,", 0), 0u)
        << warnings[0];
    EXPECT_EQ(warnings[1].rfind(path + ":3: row 00: holds 1 byte instead of 16", 0), 0u)
        << warnings[1];
    std::remove(path.c_str());
}

// The forms without warnings take damaged data as an error: the first
// problem met while reading, even where a warning of an earlier line
// follows from it.
TEST(PciDumpTest, StrictFormsRefuseDamagedData)
{
    const std::string damaged = "00:00.0 A\n00: 86 80 90 71 06 00 10 22 03 00 00\n";
    std::vector<PciDumpFunction> functions(1);
    functions[0].bus = 0x42;
    std::string error;
    EXPECT_FALSE(ParsePciDump(damaged, "m.txt", functions, error));
    EXPECT_EQ(error, "m.txt:2: row 00: holds 11 bytes instead of 16");
    ASSERT_EQ(functions.size(), 1u);
    EXPECT_EQ(functions[0].bus, 0x42);

    const std::string path = ::testing::TempDir() + "lumbrel-damaged-machine.txt";
    std::ofstream(path, std::ios::binary) << damaged;
    EXPECT_FALSE(LoadPciDumpFile(path, functions, error));
    EXPECT_EQ(error, path + ":2: row 00: holds 11 bytes instead of 16");
    std::remove(path.c_str());

    // Posted but whole, a dump reads as with warnings.
    const std::string quoted = posted::Prefixed("00:00.0 A\n" + HexLines(1), "> ", true);
    ASSERT_TRUE(ParsePciDump(quoted, "m.txt", functions, error)) << error;
    ASSERT_EQ(functions.size(), 1u);
    ExpectBytes(functions[0], 1);
}

// Written back and read again, a machine is the same: functions,
// descriptions, bytes (a row given in part comes back whole), and no
// warning but the one for a function without bytes.
TEST(PciDumpTest, FormatReadsBackTheSame)
{
    std::vector<PciDumpFunction> classic;
    std::string error;
    ASSERT_TRUE(LoadPciDumpFile(MachinePath("agp2x-classic.txt"), classic, error)) << error;
    std::vector<PciDumpFunction> odd = {classic[0], classic[1], classic[2], classic[3]};
    odd[0].description = "";
    odd[1].description = "VGA compatible controller: looks quoted-printable =";
    odd[1].bytesGiven = 64;
    std::memset(odd[1].config + 64, 0, 192);
    odd[2].description = "a=3Db";
    odd[2].bytesGiven = 65;
    std::memset(odd[2].config + 65, 0, 191);
    odd[3].bytesGiven = 0;
    std::memset(odd[3].config, 0, 256);
    struct Case {
        const char* what;
        std::vector<PciDumpFunction> functions;
        size_t warnings;
    } cases[] = {{"agp2x-classic.txt", classic, 0}, {"odd descriptions and lengths", odd, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Parsed again = Parse(FormatPciDump(c.functions));
        ASSERT_TRUE(again.ok) << again.error;
        EXPECT_EQ(again.warnings.size(), c.warnings) << AllWarnings(again);
        ASSERT_EQ(again.functions.size(), c.functions.size());
        for (size_t i = 0; i < c.functions.size(); ++i) {
            SCOPED_TRACE(i);
            const PciDumpFunction& f = c.functions[i];
            EXPECT_EQ(again.functions[i].bus, f.bus);
            EXPECT_EQ(again.functions[i].devFn, f.devFn);
            EXPECT_EQ(again.functions[i].description, f.description);
            EXPECT_EQ(again.functions[i].bytesGiven, (f.bytesGiven + 15) / 16 * 16);
            EXPECT_EQ(std::memcmp(again.functions[i].config, f.config, 256), 0);
        }
    }
}

}  // namespace
