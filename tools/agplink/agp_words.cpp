#include "agp_words.h"

#include <cstdio>

namespace {

const uint32_t kAgp3Bit = 0x8;

char Flag(uint32_t value, unsigned bit) { return (value >> bit) & 1 ? '+' : '-'; }

unsigned Field(uint32_t value, unsigned low, unsigned width)
{
    return (value >> low) & ((1u << width) - 1);
}

// Request queue: the field holds the depth less one.
unsigned RequestQueue(uint32_t value) { return Field(value, 24, 8) + 1; }

}  // namespace

bool IsAgp3Mode(unsigned major, uint32_t status)
{
    return major >= 3 && (status & kAgp3Bit) != 0;
}

std::string AgpRateWords(uint32_t rateBits, bool agp3Mode)
{
    static const char* const kNames[2][3] = {{"x1", "x2", "x4"}, {"x4", "x8", "x16"}};
    std::string words;
    for (unsigned bit = 0; bit < 3; ++bit) {
        if (!((rateBits >> bit) & 1)) continue;
        if (!words.empty()) words += ',';
        words += kNames[agp3Mode ? 1 : 0][bit];
    }
    return words.empty() ? "<none>" : words;
}

std::string AgpVersionWords(unsigned major, unsigned minor)
{
    char text[32];
    std::snprintf(text, sizeof text, "AGP version %x.%x", major & 0xF, minor & 0xF);
    return text;
}

std::string AgpStatusWords(unsigned major, uint32_t s)
{
    char text[160];
    std::snprintf(text, sizeof text,
                  "RQ=%u Iso%c ArqSz=%u Cal=%u SBA%c ITACoh%c GART64%c HTrans%c 64bit%c FW%c "
                  "AGP3%c Rate=",
                  RequestQueue(s), Flag(s, 16), Field(s, 13, 3), Field(s, 10, 3), Flag(s, 9),
                  Flag(s, 8), Flag(s, 7), Flag(s, 6), Flag(s, 5), Flag(s, 4), Flag(s, 3));
    return text + AgpRateWords(s & 7, IsAgp3Mode(major, s));
}

std::string AgpCommandWords(unsigned major, uint32_t status, uint32_t c)
{
    char text[160];
    std::snprintf(text, sizeof text,
                  "RQ=%u ArqSz=%u Cal=%u SBA%c AGP%c GART64%c 64bit%c FW%c Rate=", RequestQueue(c),
                  Field(c, 13, 3), Field(c, 10, 3), Flag(c, 9), Flag(c, 8), Flag(c, 7), Flag(c, 5),
                  Flag(c, 4));
    return text + AgpRateWords(c & 7, IsAgp3Mode(major, status));
}
