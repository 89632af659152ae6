// Checks that an image can load on Windows 95/98: PE32 for the i386, GUI
// subsystem 4.0 and OS version 4.0, and every imported function one of an
// allowlist of functions that Windows 95 already exports (ANSI only, no
// import by ordinal, no delay-loaded imports).
//
//   image_check IMAGE ALLOWLIST
//
// The allowlist has one "DLL FUNCTION" pair per line; '#' starts a comment.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "check.h"

namespace {

Checks checks;

std::string Upper(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string NativePath(std::string path)
{
    if (!path.empty() && path[0] == '/') path = "Z:" + path;  // a Unix path under Wine
    return path;
}

class Image {
public:
    explicit Image(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    bool Has(size_t offset, size_t length) const
    {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }
    uint32_t U16(size_t offset) const
    {
        return Has(offset, 2) ? bytes_[offset] | bytes_[offset + 1] << 8 : 0;
    }
    uint32_t U32(size_t offset) const { return U16(offset) | U16(offset + 2) << 16; }

    // File offset of a relative virtual address, through the section table.
    bool Map(uint32_t rva, size_t& offset) const
    {
        for (const Section& s : sections_) {
            const uint32_t size = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
            if (rva >= s.rva && rva - s.rva < size && rva - s.rva < s.rawSize) {
                offset = s.rawOffset + (rva - s.rva);
                return true;
            }
        }
        return false;
    }

    std::string CString(uint32_t rva) const
    {
        size_t at = 0;
        std::string s;
        if (!Map(rva, at)) return s;
        while (at < bytes_.size() && bytes_[at] != 0 && s.size() < 512) s += static_cast<char>(bytes_[at++]);
        return s;
    }

    void AddSection(uint32_t rva, uint32_t virtualSize, uint32_t rawOffset, uint32_t rawSize)
    {
        sections_.push_back({rva, virtualSize, rawOffset, rawSize});
    }

private:
    struct Section {
        uint32_t rva, virtualSize, rawOffset, rawSize;
    };
    std::vector<uint8_t> bytes_;
    std::vector<Section> sections_;
};

bool ReadAllowlist(const std::string& path, std::set<std::string>& allowed)
{
    std::ifstream in(NativePath(path));
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string dll, function;
        if (!(words >> dll)) continue;
        if (!(words >> function)) return false;
        allowed.insert(Upper(dll) + " " + function);
    }
    return !allowed.empty();
}

// "GetModuleHandleW", "MessageBoxW": the wide-character variant of an API.
bool IsWideVariant(const std::string& name)
{
    return name.size() >= 2 && name.back() == 'W' &&
           std::islower(static_cast<unsigned char>(name[name.size() - 2]));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::printf("usage: image_check IMAGE ALLOWLIST\n");
        return 2;
    }
    std::ifstream file(NativePath(argv[1]), std::ios::binary);
    if (!checks.Check(static_cast<bool>(file), std::string("read ") + argv[1])) return checks.Finish();
    Image image(std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {}));

    std::set<std::string> allowed;
    if (!checks.Check(ReadAllowlist(argv[2], allowed), std::string("read allowlist ") + argv[2]))
        return checks.Finish();

    if (!checks.Equal<uint32_t>(0x5A4D, image.U16(0), "MZ signature")) return checks.Finish();
    const size_t pe = image.U32(0x3C);
    if (!checks.Equal<uint32_t>(0x00004550, image.U32(pe), "PE signature")) return checks.Finish();

    const size_t fileHeader = pe + 4;
    checks.Equal<uint32_t>(0x014C, image.U16(fileHeader), "machine i386");
    const uint32_t sectionCount = image.U16(fileHeader + 2);
    const uint32_t optionalSize = image.U16(fileHeader + 16);
    const uint32_t characteristics = image.U16(fileHeader + 18);
    checks.Check((characteristics & 0x0002) != 0, "executable image");
    checks.Check((characteristics & 0x0100) != 0, "32-bit machine");
    checks.Check((characteristics & 0x2000) == 0, "not a DLL");

    const size_t optional = fileHeader + 20;
    if (!checks.Equal<uint32_t>(0x010B, image.U16(optional), "PE32 optional header"))
        return checks.Finish();
    checks.Equal<uint32_t>(4, image.U16(optional + 40), "major OS version");
    checks.Equal<uint32_t>(0, image.U16(optional + 42), "minor OS version");
    checks.Equal<uint32_t>(4, image.U16(optional + 48), "major subsystem version");
    checks.Equal<uint32_t>(0, image.U16(optional + 50), "minor subsystem version");
    checks.Equal<uint32_t>(2, image.U16(optional + 68), "subsystem: Windows GUI");
    const uint32_t directories = image.U32(optional + 92);

    const size_t sectionTable = optional + optionalSize;
    for (uint32_t i = 0; i < sectionCount; ++i) {
        const size_t s = sectionTable + 40 * i;
        image.AddSection(image.U32(s + 12), image.U32(s + 8), image.U32(s + 20), image.U32(s + 16));
    }

    auto directory = [&](uint32_t index, uint32_t& rva, uint32_t& size) {
        rva = size = 0;
        if (index >= directories) return;
        rva = image.U32(optional + 96 + 8 * index);
        size = image.U32(optional + 96 + 8 * index + 4);
    };
    uint32_t rva, size;
    directory(13, rva, size);
    checks.Check(rva == 0, "no delay-loaded imports");

    directory(1, rva, size);
    size_t descriptor = 0;
    if (!checks.Check(rva != 0 && image.Map(rva, descriptor), "import directory present"))
        return checks.Finish();

    int functions = 0;
    std::set<std::string> dlls;
    for (;; descriptor += 20) {
        const uint32_t lookup = image.U32(descriptor);
        const uint32_t nameRva = image.U32(descriptor + 12);
        const uint32_t address = image.U32(descriptor + 16);
        if (nameRva == 0 && address == 0) break;
        const std::string dll = Upper(image.CString(nameRva));
        dlls.insert(dll);
        size_t thunk = 0;
        if (!checks.Check(image.Map(lookup != 0 ? lookup : address, thunk), dll + ": import names"))
            continue;
        for (;; thunk += 4) {
            const uint32_t entry = image.U32(thunk);
            if (entry == 0) break;
            ++functions;
            if (entry & 0x80000000u) {
                checks.Check(false, dll + ": import by ordinal " + std::to_string(entry & 0xFFFF));
                continue;
            }
            const std::string name = image.CString(entry + 2);
            if (IsWideVariant(name))
                checks.Check(false, "wide-character function " + dll + " " + name);
            else
                checks.Check(allowed.count(dll + " " + name) != 0, "not allowed: " + dll + " " + name);
        }
    }
    std::string list;
    for (const std::string& d : dlls) list += " " + d;
    std::printf("imports %d functions from%s\n", functions, list.c_str());
    checks.Check(functions > 0, "imports found");
    return checks.Finish();
}
