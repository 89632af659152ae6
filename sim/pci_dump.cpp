#include "pci_dump.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

namespace {

const size_t npos = std::string::npos;

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsSpace(char c) { return IsBlank(c) || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string Trim(const std::string& text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && IsSpace(text[begin])) ++begin;
    while (end > begin && IsSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// Number of hex digits at text[pos].
size_t HexRun(const std::string& text, size_t pos)
{
    size_t n = 0;
    while (pos + n < text.size() && HexValue(text[pos + n]) >= 0) ++n;
    return n;
}

uint32_t HexNumber(const std::string& text, size_t pos, size_t digits)
{
    uint32_t value = 0;
    for (size_t i = 0; i < digits; ++i) value = value * 16 + static_cast<uint32_t>(HexValue(text[pos + i]));
    return value;
}

// A row offset as lspci writes it: "40:", "100:".
std::string RowLabel(unsigned long long offset)
{
    char text[24];
    std::snprintf(text, sizeof text, offset < 0x100 ? "%02llx:" : "%03llx:", offset);
    return text;
}

// "1 byte", "15 bytes".
std::string Count(unsigned long long n, const std::string& noun)
{
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string SlotText(const PciDumpFunction& f)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02x:%02x.%d", f.bus, f.devFn >> 3, f.devFn & 7);
    return text;
}

// A piece of the file for a message: in double quotes, at most 60 bytes of
// it, every byte outside printable ASCII written as \xHH.
std::string Quote(const std::string& text)
{
    const size_t kMaxQuoted = 60;
    std::string out = "\"";
    char hex[8];
    for (size_t i = 0; i < text.size() && i < kMaxQuoted; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    out += "\"";
    if (text.size() > kMaxQuoted) out += "...";
    return out;
}

struct TextLine {
    std::string text;
    unsigned number;  // line of the file it starts on
};

// Lines without their line feed and one carriage return before it.
std::vector<TextLine> SplitLines(const std::string& text)
{
    std::vector<TextLine> lines;
    size_t start = 0;
    unsigned number = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back({std::move(line), ++number});
        start = end + 1;
    }
    return lines;
}

// Where a quoted-printable soft line break starts: a '=' followed by
// nothing but spaces and tabs. npos when the line has none.
size_t SoftBreak(const std::string& line)
{
    size_t end = line.size();
    while (end > 0 && IsBlank(line[end - 1])) --end;
    return end > 0 && line[end - 1] == '=' ? end - 1 : npos;
}

// Text is taken as quoted-printable only when every '=' in it is an escape
// "=XX" (upper-case hex digits, as encoders write them) or a soft line
// break, and at least one is a soft break or an escaped '=' ("=3D"). A dump
// as lspci writes it has no '=' at all, and `lspci -vv` text has
// "DEVSEL=medium" and the like, which no encoder leaves.
bool LooksQuotedPrintable(const std::vector<TextLine>& lines)
{
    bool encoded = false;
    for (const TextLine& line : lines) {
        const std::string& s = line.text;
        const size_t softBreak = SoftBreak(s);
        const size_t end = softBreak == npos ? s.size() : softBreak;
        if (softBreak != npos) encoded = true;
        for (size_t i = 0; i < end; ++i) {
            if (s[i] != '=') continue;
            if (i + 3 > end || !IsUpperHex(s[i + 1]) || !IsUpperHex(s[i + 2])) return false;
            if (s[i + 1] == '3' && s[i + 2] == 'D') encoded = true;
            i += 2;
        }
    }
    return encoded;
}

// Joins soft line breaks and turns escapes into bytes; an escaped line
// feed starts a new line. Each line keeps the number of the file line it
// starts on.
std::vector<TextLine> DecodeQuotedPrintable(const std::vector<TextLine>& lines)
{
    std::vector<TextLine> decoded;
    TextLine current{std::string(), 0};
    bool open = false;
    auto finish = [&]() {
        if (!current.text.empty() && current.text.back() == '\r') current.text.pop_back();
        decoded.push_back(current);
        current.text.clear();
    };
    for (const TextLine& line : lines) {
        if (!open) {
            current.number = line.number;
            open = true;
        }
        const std::string& s = line.text;
        const size_t softBreak = SoftBreak(s);
        const size_t end = softBreak == npos ? s.size() : softBreak;
        for (size_t i = 0; i < end; ++i) {
            char c = s[i];
            if (c == '=' && i + 3 <= end) {
                c = static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
                i += 2;
            }
            if (c == '\n')
                finish();
            else
                current.text += c;
        }
        if (softBreak == npos) {
            finish();
            open = false;
        }
    }
    if (open) finish();
    return decoded;
}

// Quote markers and indentation before a line's text: spaces, tabs, '>'.
size_t PrefixLength(const std::string& line)
{
    size_t n = 0;
    while (n < line.size() && (IsBlank(line[n]) || line[n] == '>')) ++n;
    return n;
}

struct Slot {
    bool otherDomain = false;
    unsigned bus = 0, device = 0, function = 0;
    size_t end = 0;  // just past the slot
};

// "BB:DD.F" or "DDDD:BB:DD.F" (four or more domain digits) at text[pos],
// then a space, as lspci reads it. Posted text may have lost the space at
// the line's end or turned it into a tab (`lenient`).
bool ParseSlot(const std::string& text, size_t pos, bool lenient, Slot& slot)
{
    size_t p = pos;
    const size_t domainDigits = HexRun(text, p);
    if (domainDigits >= 4 && p + domainDigits < text.size() && text[p + domainDigits] == ':') {
        slot.otherDomain = false;
        for (size_t i = 0; i < domainDigits; ++i) slot.otherDomain |= text[p + i] != '0';
        p += domainDigits + 1;
    }
    if (HexRun(text, p) != 2 || p + 2 >= text.size() || text[p + 2] != ':') return false;
    slot.bus = HexNumber(text, p, 2);
    p += 3;
    if (HexRun(text, p) != 2 || p + 2 >= text.size() || text[p + 2] != '.') return false;
    slot.device = HexNumber(text, p, 2);
    p += 3;
    if (p >= text.size() || text[p] < '0' || text[p] > '9') return false;
    slot.function = static_cast<unsigned>(text[p] - '0');
    ++p;
    if (p < text.size() ? !(text[p] == ' ' || (lenient && text[p] == '\t')) : !lenient)
        return false;
    slot.end = p;
    return true;
}

struct RowStart {
    uint32_t offset = 0;
    std::string label;   // "40:" as written
    size_t bytes = 0;    // where the bytes begin
};

// "OFFSET:" with two to eight hex digits, then a space, a tab or the end.
bool ParseRowStart(const std::string& text, size_t pos, RowStart& row)
{
    const size_t digits = HexRun(text, pos);
    if (digits < 2 || digits > 8 || pos + digits >= text.size() || text[pos + digits] != ':')
        return false;
    const size_t after = pos + digits + 1;
    if (after < text.size() && !IsBlank(text[after])) return false;
    row.offset = HexNumber(text, pos, digits);
    row.label = text.substr(pos, digits + 1);
    row.bytes = after;
    return true;
}

// The first detail line of `lspci -v` ("Subsystem: ...", "Flags: ...",
// "Control: ...") starts with a capitalised word that ends in a colon; a
// description wrapped in its class name ("controller: NVIDIA ...") does
// not.
bool StartsWithLabel(const std::string& text, size_t pos)
{
    size_t end = pos;
    while (end < text.size() && !IsSpace(text[end])) ++end;
    return end > pos + 1 && text[pos] >= 'A' && text[pos] <= 'Z' && text[end - 1] == ':';
}

class DumpReader {
public:
    explicit DumpReader(const std::string& source) : source_(source) {}

    // Warnings in line order, or in reading order (the rows' as they
    // come, a function's own after its rows, a function given twice at the
    // end), so that the first is the first problem met.
    bool Read(const std::string& text, bool lineOrder, std::vector<PciDumpFunction>& functions,
              std::vector<std::string>& warnings, std::string& error);

private:
    enum class State { None, Open, LeftOut };

    void Warn(unsigned line, const std::string& what) { warnings_.emplace_back(line, what); }
    void FunctionLine(const TextLine& line, size_t pos, const Slot& slot);
    void Row(const TextLine& line, const RowStart& row);
    void Text(const std::string& line, size_t pos);
    void Blank();
    void Finish();
    std::vector<PciDumpFunction> Merged();

    const std::string source_;
    std::vector<std::pair<unsigned, std::string>> warnings_;
    std::vector<PciDumpFunction> parsed_;
    State state_ = State::None;
    std::string slot_;               // the current or last ended function, as written
    unsigned slotLine_ = 0;
    bool endedByBlank_ = false;      // a blank line ended the last function
    unsigned long long expected_ = 0;
    bool continuing_ = false;        // right after a function line: its description may go on
    std::string prefix_;             // quote markers and indentation of the function line
};

bool DumpReader::Read(const std::string& text, bool lineOrder,
                      std::vector<PciDumpFunction>& functions, std::vector<std::string>& warnings,
                      std::string& error)
{
    std::vector<TextLine> lines = SplitLines(text);
    if (LooksQuotedPrintable(lines)) lines = DecodeQuotedPrintable(lines);

    // lspci reads only lines that start in the first column, and a dump it
    // reads is read just as it does. Where no function line starts there,
    // the dump is indented or quoted: lines are read after their prefix.
    bool lenient = true;
    for (const TextLine& line : lines) {
        Slot slot;
        if (ParseSlot(line.text, 0, false, slot)) {
            lenient = false;
            break;
        }
    }

    const TextLine* firstText = nullptr;
    bool sawFunction = false;
    for (const TextLine& line : lines) {
        const std::string& s = line.text;
        const size_t p = PrefixLength(s);
        const bool empty = p == s.size();
        if (!empty && s[p] != '#' && !firstText) firstText = &line;
        // lspci ends a function at an empty line; in an indented or quoted
        // dump a line with nothing after its prefix was that empty line.
        if (lenient ? empty : s.empty()) {
            Blank();
            continue;
        }
        if (!empty && s[p] == '#') {  // a comment of our own machine files
            continuing_ = false;
            continue;
        }
        const bool dumpLine = lenient || p == 0;
        Slot slot;
        RowStart row;
        if (dumpLine && ParseSlot(s, p, lenient, slot)) {
            sawFunction = true;
            FunctionLine(line, p, slot);
        } else if (dumpLine && ParseRowStart(s, p, row)) {
            continuing_ = false;
            Row(line, row);
        } else {
            Text(s, p);
        }
    }
    Finish();

    auto message = [&](unsigned line, const std::string& what) {
        return source_ + ":" + std::to_string(line) + ": " + what;
    };
    auto publish = [&]() {
        if (lineOrder)
            std::stable_sort(warnings_.begin(), warnings_.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        warnings.clear();
        for (const auto& w : warnings_) warnings.push_back(message(w.first, w.second));
    };
    if (!sawFunction && firstText) {
        publish();
        error = message(firstText->number,
                        "no PCI function in this text: expected a line \"BB:DD.F description\" as "
                        "lspci -xxx writes it, found " + Quote(firstText->text));
        return false;
    }
    std::vector<PciDumpFunction> merged = Merged();
    publish();
    functions.swap(merged);
    return true;
}

void DumpReader::FunctionLine(const TextLine& line, size_t pos, const Slot& slot)
{
    Finish();
    const std::string& s = line.text;
    slot_ = s.substr(pos, slot.end - pos);
    slotLine_ = line.number;
    endedByBlank_ = false;
    expected_ = 0;
    continuing_ = false;
    if (slot.otherDomain) {
        state_ = State::LeftOut;
        return;
    }
    if (slot.device > 31 || slot.function > 7) {
        Warn(line.number, slot_ + ": " +
                              (slot.device > 31 ? "device number above 1f" : "function number above 7") +
                              ", which no configuration address can reach: function left out");
        state_ = State::LeftOut;
        return;
    }
    PciDumpFunction f;
    f.bus = static_cast<uint8_t>(slot.bus);
    f.devFn = static_cast<uint8_t>(slot.device << 3 | slot.function);
    f.line = line.number;
    f.description = Trim(s.substr(slot.end));
    f.bytesGiven = 0;
    std::memset(f.config, 0xFF, sizeof f.config);
    parsed_.push_back(std::move(f));
    state_ = State::Open;
    continuing_ = true;
    prefix_ = s.substr(0, pos);
}

// Bytes go where the row's offset says, one after the other (bytes past
// 16 run on into the next row's place), as lspci places them.
void DumpReader::Row(const TextLine& line, const RowStart& row)
{
    const std::string what = "row " + row.label + " ";
    if (state_ == State::None) {
        if (endedByBlank_)
            Warn(line.number, what + "after the blank line that ends " + slot_ + " (line " +
                                  std::to_string(slotLine_) + "): left out, as lspci leaves it");
        else
            Warn(line.number, what + "before any function line: left out");
        return;
    }
    if (state_ == State::LeftOut) return;

    PciDumpFunction& f = parsed_.back();
    if (row.offset != expected_)
        Warn(line.number, what + "out of order: row " + RowLabel(expected_) + " expected");
    expected_ = std::max(expected_, static_cast<unsigned long long>(row.offset) + 16);
    if (row.offset >= 4096) {
        Warn(line.number, what + "beyond the 4096 bytes of configuration space: left out");
        return;
    }

    const std::string& s = line.text;
    size_t pos = row.bytes;
    unsigned count = 0;
    for (;;) {
        while (pos < s.size() && IsBlank(s[pos])) ++pos;
        if (pos >= s.size()) break;
        size_t end = pos;
        while (end < s.size() && !IsBlank(s[end])) ++end;
        const unsigned long long at = static_cast<unsigned long long>(row.offset) + count;
        if (end - pos != 2 || HexValue(s[pos]) < 0 || HexValue(s[pos + 1]) < 0) {
            char offset[24];
            std::snprintf(offset, sizeof offset, "%02llx", at);
            Warn(line.number, what + "byte " + offset + " is " + Quote(s.substr(pos, end - pos)) +
                                  ", not two hex digits: the row is read up to it");
            return;
        }
        if (at < 256) {
            f.config[at] = static_cast<uint8_t>(HexNumber(s, pos, 2));
            f.bytesGiven = std::max(f.bytesGiven, static_cast<unsigned>(at) + 1);
        }
        ++count;
        pos = end;
    }
    if (count != 16)
        Warn(line.number, what + "holds " + Count(count, "byte") + " instead of 16");
}

// Text between the dump's lines is passed over; the lines right after a
// function line, quoted and indented as it is, carry on its description.
void DumpReader::Text(const std::string& line, size_t pos)
{
    if (continuing_ && state_ == State::Open && pos == prefix_.size() &&
        line.compare(0, pos, prefix_) == 0 && !StartsWithLabel(line, pos)) {
        std::string& description = parsed_.back().description;
        const std::string more = Trim(line.substr(pos));
        description += description.empty() ? more : " " + more;
        return;
    }
    continuing_ = false;
}

void DumpReader::Blank()
{
    if (state_ != State::None) {
        Finish();
        endedByBlank_ = true;
    }
    continuing_ = false;
}

void DumpReader::Finish()
{
    if (state_ == State::Open) {
        PciDumpFunction& f = parsed_.back();
        if (f.bytesGiven < 64)
            Warn(f.line, slot_ + " gives " +
                             (f.bytesGiven == 0 ? std::string("no configuration bytes")
                                                : "only " + Count(f.bytesGiven, "configuration byte")) +
                             ", fewer than the 64 of a function's header");
        std::memset(f.config + f.bytesGiven, 0, sizeof f.config - f.bytesGiven);
    }
    state_ = State::None;
}

// A function given twice (say `lspci -x` and then `lspci -xxx` in one
// post) is one function when the bytes both give agree: it keeps the
// longer dump. Otherwise the later one is left out.
std::vector<PciDumpFunction> DumpReader::Merged()
{
    std::vector<int> index(256 * 256, -1);
    std::vector<PciDumpFunction> merged;
    for (PciDumpFunction& f : parsed_) {
        int& at = index[f.bus << 8 | f.devFn];
        if (at < 0) {
            at = static_cast<int>(merged.size());
            merged.push_back(std::move(f));
            continue;
        }
        PciDumpFunction& first = merged[static_cast<size_t>(at)];
        const unsigned common = std::min(first.bytesGiven, f.bytesGiven);
        if (std::memcmp(first.config, f.config, common) != 0) {
            Warn(f.line, SlotText(f) + " given again with other bytes than at line " +
                             std::to_string(first.line) + ": this one is left out");
        } else if (f.bytesGiven > first.bytesGiven) {
            std::memcpy(first.config, f.config, sizeof f.config);
            first.bytesGiven = f.bytesGiven;
        }
    }
    return merged;
}

// The first problem met while reading is the error.
bool ReadDumpStrictly(const std::string& text, const std::string& sourceName,
                      std::vector<PciDumpFunction>& functions, std::string& error)
{
    std::vector<PciDumpFunction> read;
    std::vector<std::string> warnings;
    if (!DumpReader(sourceName).Read(text, false, read, warnings, error)) return false;
    if (!warnings.empty()) {
        error = warnings[0];
        return false;
    }
    functions.swap(read);
    return true;
}

bool ReadFile(const std::string& path, std::string& text, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": cannot open the file";
        return false;
    }
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad()) {
        error = path + ": cannot read the file";
        return false;
    }
    text = content.str();
    return true;
}

}  // namespace

bool ParsePciDump(const std::string& text, const std::string& sourceName,
                  std::vector<PciDumpFunction>& functions, std::vector<std::string>& warnings,
                  std::string& error)
{
    return DumpReader(sourceName).Read(text, true, functions, warnings, error);
}

bool ParsePciDump(const std::string& text, const std::string& sourceName,
                  std::vector<PciDumpFunction>& functions, std::string& error)
{
    return ReadDumpStrictly(text, sourceName, functions, error);
}

bool LoadPciDumpFile(const std::string& path, std::vector<PciDumpFunction>& functions,
                     std::vector<std::string>& warnings, std::string& error)
{
    std::string text;
    return ReadFile(path, text, error) && ParsePciDump(text, path, functions, warnings, error);
}

bool LoadPciDumpFile(const std::string& path, std::vector<PciDumpFunction>& functions,
                     std::string& error)
{
    std::string text;
    return ReadFile(path, text, error) && ReadDumpStrictly(text, path, functions, error);
}

std::string FormatPciDump(const std::vector<PciDumpFunction>& functions)
{
    std::string out;
    char buffer[64];
    for (const PciDumpFunction& f : functions) {
        if (!out.empty()) out += "\n";
        // lspci reads a function line only with the space after the slot.
        out += SlotText(f) + " " + f.description + "\n";
        const unsigned end = (std::min(f.bytesGiven, 256u) + 15) / 16 * 16;
        for (unsigned offset = 0; offset < end; offset += 16) {
            std::snprintf(buffer, sizeof buffer, "%02x:", offset);
            out += buffer;
            for (unsigned i = 0; i < 16; ++i) {
                std::snprintf(buffer, sizeof buffer, " %02x", f.config[offset + i]);
                out += buffer;
            }
            out += "\n";
        }
    }
    // Descriptions with '=' in them could make the text look
    // quoted-printable; a bare '=' says it is not.
    if (LooksQuotedPrintable(SplitLines(out)))
        out.insert(0, "# = is plain text here, not quoted-printable\n");
    return out;
}
