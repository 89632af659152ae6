#include "link_verdict.h"

#include "agp_functions.h"
#include "agp_words.h"

namespace {

const uint32_t kEnableBit = 0x100;
const uint32_t kSbaBit = 0x200;
const uint32_t kFastWriteBit = 0x10;
const uint32_t kRate1x = 0x1;           // in AGP 2.0 mode
const uint32_t kReservedRateBit = 0x4;  // in AGP 3.0 mode

unsigned BitCount(uint32_t value)
{
    unsigned count = 0;
    for (; value; value &= value - 1) ++count;
    return count;
}

// "2x" for a single rate bit of the mode.
std::string RateName(uint32_t rateBit, bool agp3Mode)
{
    static const char* const kNames[2][3] = {{"1x", "2x", "4x"}, {"4x", "8x", "?"}};
    for (unsigned bit = 0; bit < 3; ++bit)
        if (rateBit == 1u << bit) return kNames[agp3Mode ? 1 : 0][bit];
    return "?";
}

bool Enabled(const AgpParty& p) { return (p.command & kEnableBit) != 0; }

std::string StatusWords(const AgpParty& p) { return AgpStatusWords(p.major, p.status); }
std::string CommandWords(const AgpParty& p)
{
    return AgpCommandWords(p.major, p.status, p.command);
}

// The word of lspci's text that starts with `key` followed by '+', '-' or
// '=' ("SBA-", "RQ=32", "Rate=x1,x2").
std::string Word(const std::string& words, const std::string& key)
{
    size_t start = 0;
    while (start < words.size()) {
        size_t end = words.find(' ', start);
        if (end == std::string::npos) end = words.size();
        const std::string word = words.substr(start, end - start);
        if (word.size() > key.size() && word.compare(0, key.size(), key) == 0) {
            const char after = word[key.size()];
            if (after == '+' || after == '-' || after == '=') return word;
        }
        start = end + 1;
    }
    return std::string();
}

std::string StatusNote(const AgpParty& p, const std::string& key)
{
    return p.label + " Status: " + Word(StatusWords(p), key);
}

std::string CommandNote(const AgpParty& p, const std::string& key)
{
    return p.label + " Command: " + Word(CommandWords(p), key);
}

class Judge {
public:
    Judge(const AgpParty& chipset, const AgpParty& adapter)
        : chipset_(chipset), adapter_(adapter)
    {
        verdict_.agp3Mode = IsAgp3Mode(chipset.major, chipset.status) &&
                            IsAgp3Mode(adapter.major, adapter.status);
        rateMask_ = verdict_.agp3Mode ? 0x3 : 0x7;
    }

    AgpLinkVerdict Run()
    {
        const AgpParty* const parties[] = {&chipset_, &adapter_};

        for (const AgpParty* p : parties)
            if (!Enabled(*p)) Add(*p, "AGP is off");
        if (Enabled(chipset_) != Enabled(adapter_))
            Add(adapter_, "parties disagree on AGP enable", CommandNote(chipset_, "AGP"));

        for (const AgpParty* p : parties)
            if (Enabled(*p) && Rate(*p) == 0) Add(*p, "no rate bit");
        for (const AgpParty* p : parties)
            if (BitCount(Rate(*p)) > 1) Add(*p, "more than one rate bit");
        if (Rate(chipset_) != 0 && Rate(adapter_) != 0 && Rate(chipset_) != Rate(adapter_))
            Add(adapter_, "rates differ", CommandNote(chipset_, "Rate"));
        for (const AgpParty* p : parties)
            AddIfUnsupported(*p, Rate(*p), "rate not supported by both", "Rate");
        if (verdict_.agp3Mode)
            for (const AgpParty* p : parties)
                if (p->command & kReservedRateBit) Add(*p, "reserved rate bit");

        for (const AgpParty* p : parties)
            AddIfUnsupported(*p, p->command & kSbaBit, "SBA not supported by both", "SBA");
        if (verdict_.agp3Mode)
            for (const AgpParty* p : parties)
                if (Enabled(*p) && !(p->command & kSbaBit)) Add(*p, "SBA off in AGP 3.0 mode");

        for (const AgpParty* p : parties)
            AddIfUnsupported(*p, p->command & kFastWriteBit, "fast writes not supported by both",
                             "FW");
        if (!verdict_.agp3Mode)
            for (const AgpParty* p : parties)
                if ((p->command & kFastWriteBit) && (p->command & kRate1x))
                    Add(*p, "fast writes at 1x");

        if ((adapter_.command >> 24) > (chipset_.status >> 24))
            Add(adapter_, "request queue deeper than the chipset's", StatusNote(chipset_, "RQ"));

        if (verdict_.Consistent()) {
            verdict_.rate = RateName(Rate(adapter_), verdict_.agp3Mode);
            verdict_.sba = (adapter_.command & kSbaBit) != 0;
            verdict_.fastWrites = (adapter_.command & kFastWriteBit) != 0;
        }
        return verdict_;
    }

private:
    uint32_t Rate(const AgpParty& p) const { return p.command & rateMask_; }

    void Add(const AgpParty& p, const char* words, const std::string& note = std::string())
    {
        verdict_.problems.push_back({p.label, words, "Command: " + CommandWords(p), note});
    }

    // A problem when some of `bits` (set in p's command) is missing from
    // either status; the note shows each status that lacks it.
    void AddIfUnsupported(const AgpParty& p, uint32_t bits, const char* words, const char* key)
    {
        std::string note;
        for (const AgpParty* side : {&chipset_, &adapter_}) {
            if (!(bits & ~side->status)) continue;
            if (!note.empty()) note += "; ";
            note += StatusNote(*side, key);
        }
        if (!note.empty()) Add(p, words, note);
    }

    const AgpParty& chipset_;
    const AgpParty& adapter_;
    uint32_t rateMask_;
    AgpLinkVerdict verdict_;
};

}  // namespace

std::string AgpPartyLabel(const std::string& role, unsigned bus, unsigned devFn)
{
    return role + " " + PciSlotWords(bus, devFn);
}

AgpLinkVerdict JudgeAgpLink(const AgpParty& chipset, const AgpParty& adapter)
{
    return Judge(chipset, adapter).Run();
}

std::string AgpLinkModeWords(bool agp3Mode) { return agp3Mode ? "AGP 3.0 mode" : "AGP 2.0 mode"; }

std::string FormatAgpLinkSummary(const AgpLinkVerdict& verdict)
{
    const std::string mode = AgpLinkModeWords(verdict.agp3Mode);
    if (verdict.Consistent())
        return "consistent (" + mode + ", " + verdict.rate + ", SBA " +
               (verdict.sba ? "on" : "off") + ", fast writes " +
               (verdict.fastWrites ? "on" : "off") + ")";
    const size_t count = verdict.problems.size();
    return std::to_string(count) + (count == 1 ? " problem (" : " problems (") + mode + ")";
}

std::string FormatAgpLinkProblem(const AgpLinkProblem& problem)
{
    std::string line = problem.party + ": " + problem.words + ": " + problem.detail;
    if (!problem.note.empty()) line += " (" + problem.note + ")";
    return line;
}

bool SameAgpLinkProblem(const AgpLinkProblem& a, const AgpLinkProblem& b)
{
    return a.party == b.party && a.words == b.words;
}

bool HasAgpLinkProblem(const AgpLinkVerdict& verdict, const AgpLinkProblem& problem)
{
    for (const AgpLinkProblem& p : verdict.problems)
        if (SameAgpLinkProblem(p, problem)) return true;
    return false;
}
