// Turns a plain `lspci -xxx` text into the forms in which people post
// dumps: with CR LF, shell prompts, `lspci -vv` details and notes between
// the lines, wrapped descriptions, indented, quoted as mail and forums
// quote, and quoted-printable as mail carries it. Shared by the dump
// reader's tests and the fuzz seeds.
#ifndef LUMBREL_TESTS_HW_POSTED_DUMP_H
#define LUMBREL_TESTS_HW_POSTED_DUMP_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace posted {

inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

inline std::string Join(const std::vector<std::string>& lines, const char* eol = "\n")
{
    std::string text;
    for (const std::string& line : lines) text += line + eol;
    return text;
}

// "BB:DD.F " at the start: a function line of the plain text.
inline bool IsFunctionLine(const std::string& line)
{
    return line.size() >= 8 && line[2] == ':' && line[5] == '.' && line[7] == ' ' && line[0] != '#';
}

inline bool IsRow(const std::string& line, const char* offset)
{
    return line.compare(0, 4, std::string(offset) + ": ") == 0;
}

// Each line through `change`, which may give any number of lines back.
inline std::string EachLine(const std::string& text,
                            const std::function<std::vector<std::string>(const std::string&)>& change)
{
    std::vector<std::string> out;
    for (const std::string& line : Lines(text))
        for (const std::string& changed : change(line)) out.push_back(changed);
    return Join(out);
}

inline std::string CrLf(const std::string& text) { return Join(Lines(text), "\r\n"); }

// A terminal session: the command first, a prompt and the next command in
// place of each blank line between functions, a bare prompt at the end.
inline std::string WithPrompts(const std::string& text)
{
    std::vector<std::string> out = {"user@box:~$ sudo lspci -xxx -s 00:00.0"};
    for (const std::string& line : Lines(text))
        out.push_back(line.empty() ? "root@box:/home/user# lspci -xxx -s 01:00.0" : line);
    out.push_back("user@box:~$ ");
    return Join(out);
}

// What `lspci -vv -xxx` prints between a function line and its rows.
inline std::string WithVerboseDetails(const std::string& text)
{
    return EachLine(text, [](const std::string& line) {
        if (!IsFunctionLine(line)) return std::vector<std::string>{line};
        return std::vector<std::string>{
            line,
            "\tSubsystem: Intel Corporation Device 0000",
            "\tControl: I/O- Mem+ BusMaster+ SpecCycle- MemWINV- VGASnoop- ParErr- Stepping- "
            "SERR- FastB2B- DisINTx-",
            "\tStatus: Cap+ 66MHz- UDF- FastB2B- ParErr- DEVSEL=medium >TAbort- <TAbort- "
            "<MAbort+ >SERR- <PERR- INTx-",
            "\tLatency: 64",
            "\tRegion 0: Memory at e0000000 (32-bit, prefetchable) [size=64M]",
            "\tCapabilities: [a0] AGP version 1.0",
            "\t\tStatus: RQ=32 Iso- ArqSz=0 Cal=0 SBA+ ITACoh- GART64- HTrans- 64bit- FW- "
            "AGP3- Rate=x1,x2",
            "\t\tCommand: RQ=1 ArqSz=0 Cal=0 SBA- AGP+ GART64- 64bit- FW- Rate=x1",
            "\tKernel driver in use: agpgart-intel",
        };
    });
}

// Remarks of the poster between two rows of every function.
inline std::string WithNotesBetweenRows(const std::string& text)
{
    return EachLine(text, [](const std::string& line) {
        if (!IsRow(line, "80")) return std::vector<std::string>{line};
        return std::vector<std::string>{"(the terminal cut the output here, the rest follows)",
                                        line};
    });
}

// Function lines longer than `width` broken at a space, as a mail client
// wraps them.
inline std::string WrapDescriptions(const std::string& text, size_t width = 40)
{
    return EachLine(text, [width](const std::string& line) {
        const size_t space = line.rfind(' ', width);
        if (!IsFunctionLine(line) || line.size() <= width || space <= 8)
            return std::vector<std::string>{line};
        return std::vector<std::string>{line.substr(0, space), line.substr(space + 1)};
    });
}

// `prefix` before every line; before empty ones too when `blankLines`.
inline std::string Prefixed(const std::string& text, const std::string& prefix, bool blankLines)
{
    return EachLine(text, [&](const std::string& line) {
        if (line.empty() && !blankLines) return std::vector<std::string>{line};
        std::string out = prefix + line;
        if (line.empty())
            while (!out.empty() && out.back() == ' ') out.pop_back();
        return std::vector<std::string>{out};
    });
}

// Quoted-printable encoding (RFC 2045): '=' and bytes that are not
// printable ASCII as =XX (tabs too when `tabs`), trailing blanks encoded,
// lines longer than 76 characters broken with soft line breaks.
inline std::string QuotedPrintable(const std::string& text, bool tabs = true)
{
    std::vector<std::string> out;
    for (const std::string& line : Lines(text)) {
        std::vector<std::string> pieces;  // encoded characters, one each
        for (size_t i = 0; i < line.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(line[i]);
            const bool last = i + 1 == line.size();
            const bool blank = c == ' ' || c == '\t';
            if (c == '=' || c >= 127 || (c < 32 && c != '\t') || (c == '\t' && tabs) ||
                (blank && last)) {
                char escape[4];
                std::snprintf(escape, sizeof escape, "=%02X", c);
                pieces.push_back(escape);
            } else {
                pieces.push_back(std::string(1, static_cast<char>(c)));
            }
        }
        std::string current;
        for (const std::string& piece : pieces) {
            if (current.size() + piece.size() > 75) {
                out.push_back(current + "=");
                current.clear();
            }
            current += piece;
        }
        out.push_back(current);
    }
    return Join(out);
}

struct Variant {
    const char* name;
    std::function<std::string(const std::string&)> make;
    bool lspciReads;  // pciutils' own reader takes this form too
};

// The posted forms, each of which reads as the plain text does.
inline std::vector<Variant> Variants()
{
    return {
        {"CR LF line ends", CrLf, true},
        {"shell prompts between functions", WithPrompts, true},
        {"lspci -vv details", WithVerboseDetails, true},
        {"notes between rows", WithNotesBetweenRows, true},
        {"wrapped descriptions", [](const std::string& t) { return WrapDescriptions(t); }, true},
        {"everything at once, CR LF",
         [](const std::string& t) { return CrLf(WrapDescriptions(WithPrompts(WithVerboseDetails(t)))); },
         true},
        {"indented by four spaces", [](const std::string& t) { return Prefixed(t, "    ", false); },
         false},
        {"indented by a tab, blank lines too",
         [](const std::string& t) { return Prefixed(t, "\t", true); }, false},
        {"quoted \"> \"", [](const std::string& t) { return Prefixed(t, "> ", true); }, false},
        {"quoted twice \"> > \"",
         [](const std::string& t) { return Prefixed(WithVerboseDetails(t), "> > ", true); }, false},
        {"quoted three times \">>>\"", [](const std::string& t) { return Prefixed(t, ">>>", true); },
         false},
        {"quoted reply with wrapped descriptions",
         [](const std::string& t) { return Prefixed(WrapDescriptions(t), "> ", true); }, false},
        {"quoted-printable", [](const std::string& t) { return QuotedPrintable(t, false); }, false},
        {"quoted-printable lspci -vv text, tabs encoded",
         [](const std::string& t) { return QuotedPrintable(WithVerboseDetails(t), true); }, false},
        {"quoted-printable quoted reply, CR LF",
         [](const std::string& t) {
             return CrLf(QuotedPrintable(Prefixed(WithVerboseDetails(t), "> ", true), false));
         },
         false},
    };
}

}  // namespace posted

#endif
