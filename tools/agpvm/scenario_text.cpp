// Small text helpers of the scenario language and its runner.
#include "scenario_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

bool ParseNumber(const std::string& text, unsigned long& value, int base)
{
    value = 0;
    if (text.empty()) return false;
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text.c_str(), &end, base);
    if (*end != 0) return false;
    value = parsed;
    return true;
}

bool ParseLocation(const std::string& text, unsigned& bus, unsigned& dev, unsigned& fn)
{
    unsigned long b, d, f;
    if (text.size() != 7 || text[2] != ':' || text[5] != '.') return false;
    if (!ParseNumber(text.substr(0, 2), b, 16) || !ParseNumber(text.substr(3, 2), d, 16) ||
        !ParseNumber(text.substr(6, 1), f, 16) || d > 31 || f > 7)
        return false;
    bus = b;
    dev = d;
    fn = f;
    return true;
}


std::string Printable(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c == '"') out += "\\\"";
        else if (c == '\\') out += "\\\\";
        else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else out += static_cast<char>(c);
    }
    return out + "\"";
}

std::string Format(const char* format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}
