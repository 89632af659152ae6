// libFuzzer target: arbitrary text read as an `lspci -xxx` dump. Aborts
// when
// - a warning or the error is not one "fuzz.txt:LINE: ..." line of
//   printable ASCII with LINE inside the text, or a failed read changed the
//   caller's list;
// - the strict read (no warnings) disagrees with the warnings or gives
//   other functions;
// - a function is given twice, claims more than 256 bytes, or holds bytes
//   other than 0 past the ones it gives;
// - the machine, written back with FormatPciDump and read again, is another
//   machine (other functions, descriptions or bytes, a given length other
//   than its own rounded up to whole rows), or the second read warns of
//   anything but a function with fewer than 64 bytes;
// - writing the machine read back gives other text.
// Hangs and memory faults are left to libFuzzer's -timeout and the
// sanitizers.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pci_dump.h"

namespace {

const char kSource[] = "fuzz.txt";

[[noreturn]] void Fail(const char* what, const std::string& detail = std::string())
{
    std::fprintf(stderr, "fuzz_dump: %s: %s\n", what, detail.c_str());
    std::abort();
}

void Check(bool ok, const char* what, const std::string& detail = std::string())
{
    if (!ok) Fail(what, detail);
}

unsigned LineCount(const std::string& text)
{
    unsigned lines = 1;
    for (char c : text) lines += c == '\n';
    return lines;
}

void CheckMessage(const std::string& message, unsigned lines)
{
    const size_t prefix = sizeof kSource - 1;
    Check(message.compare(0, prefix, kSource) == 0 && message.size() > prefix &&
              message[prefix] == ':',
          "message does not name the source", message);
    unsigned long line = 0;
    size_t pos = prefix + 1;
    while (pos < message.size() && message[pos] >= '0' && message[pos] <= '9')
        line = line * 10 + static_cast<unsigned long>(message[pos++] - '0');
    Check(pos > prefix + 1 && message.compare(pos, 2, ": ") == 0, "message without a line", message);
    Check(line >= 1 && line <= lines, "message names a line outside the text", message);
    for (unsigned char c : message)
        Check(c >= 0x20 && c <= 0x7E, "message holds a byte outside printable ASCII", message);
}

unsigned WholeRows(unsigned bytes) { return (bytes + 15) / 16 * 16; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const unsigned lines = LineCount(text);

    std::vector<PciDumpFunction> functions(1);
    functions[0].bus = 0x42;
    functions[0].description = "caller's";
    std::vector<std::string> warnings;
    std::string error;
    const bool ok = ParsePciDump(text, kSource, functions, warnings, error);
    for (const std::string& w : warnings) CheckMessage(w, lines);
    if (!ok) {
        CheckMessage(error, lines);
        Check(functions.size() == 1 && functions[0].bus == 0x42 &&
                  functions[0].description == "caller's",
              "a failed read changed the caller's list");
        return 0;
    }

    // The strict form takes the text only where no warning is given, and
    // then as the same functions.
    std::vector<PciDumpFunction> strict;
    std::string strictError;
    const bool strictOk = ParsePciDump(text, kSource, strict, strictError);
    Check(strictOk == warnings.empty(), "strict read disagrees with the warnings", strictError);
    if (strictOk)
        Check(strict.size() == functions.size() && FormatPciDump(strict) == FormatPciDump(functions),
              "strict read gives other functions");
    else
        CheckMessage(strictError, lines);

    std::vector<bool> seen(256 * 256);
    for (const PciDumpFunction& f : functions) {
        Check(!seen[f.bus << 8 | f.devFn], "a function given twice", f.description);
        seen[f.bus << 8 | f.devFn] = true;
        Check(f.bytesGiven <= 256, "more than 256 bytes given");
        Check(f.line >= 1 && f.line <= lines, "function line outside the text");
        for (unsigned i = f.bytesGiven; i < 256; ++i)
            Check(f.config[i] == 0, "a byte past the given ones is not 0");
    }

    const std::string formatted = FormatPciDump(functions);
    std::vector<PciDumpFunction> again;
    std::vector<std::string> againWarnings;
    Check(ParsePciDump(formatted, kSource, again, againWarnings, error), "written machine not read",
          error);
    Check(again.size() == functions.size(), "written machine has another number of functions",
          formatted);
    unsigned short_ = 0;
    for (size_t i = 0; i < functions.size(); ++i) {
        const PciDumpFunction& f = functions[i];
        const PciDumpFunction& g = again[i];
        Check(g.bus == f.bus && g.devFn == f.devFn, "written machine has other functions", formatted);
        Check(g.description == f.description, "written machine has other descriptions",
              f.description + " / " + g.description);
        Check(g.bytesGiven == WholeRows(f.bytesGiven), "written machine gives other lengths");
        Check(std::memcmp(g.config, f.config, 256) == 0, "written machine has other bytes",
              formatted);
        short_ += g.bytesGiven < 64;
    }
    Check(againWarnings.size() == short_, "written machine reads with warnings",
          againWarnings.empty() ? formatted : againWarnings[0]);
    for (const std::string& w : againWarnings)
        Check(w.find(", fewer than the 64 of a function's header") != std::string::npos,
              "written machine reads with a warning other than for a short function", w);
    Check(FormatPciDump(again) == formatted, "written again, the machine gives other text");
    return 0;
}
