// Checks that an image loads on the first release of Windows 95, as that
// system's loader wants it: PE32 for the i386, GUI subsystem and OS version
// 4.0, image base 0x400000, section alignment 0x1000 and file alignment
// 0x200, section names of at most 8 characters, no TLS directory, no
// delay-loaded or bound imports, every import by name with its address
// table in a writable section, no debugging data and no unwind tables. It
// may import from KERNEL32.DLL only what that system's KERNEL32 exports, and
// from other DLLs only what the allowlist names (ANSI variants only).
//
//   image_check IMAGE KERNEL32_EXPORTS ALLOWLIST
//
// KERNEL32_EXPORTS has one function name per line; the allowlist has one
// "DLL FUNCTION" pair per line; in both, '#' starts a comment.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "check.h"

namespace {

Checks checks;

const std::string kKernel32 = "KERNEL32.DLL";

// Directory entries of the optional header.
const uint32_t kDirectoryImport = 1;
const uint32_t kDirectoryDebug = 6;
const uint32_t kDirectoryTls = 9;
const uint32_t kDirectoryBoundImport = 11;
const uint32_t kDirectoryDelayImport = 13;

const uint32_t kSectionWritable = 0x80000000u;

std::string Upper(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

class Image {
public:
    struct Section {
        std::string name;  // resolved through the string table when longer than 8
        std::string rawName;
        uint32_t rva, virtualSize, rawOffset, rawSize, flags;
    };

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

    std::string Text(size_t offset, size_t maxLength) const
    {
        std::string s;
        while (Has(offset, 1) && bytes_[offset] != 0 && s.size() < maxLength)
            s += static_cast<char>(bytes_[offset++]);
        return s;
    }

    // The section that a relative virtual address lies in.
    const Section* SectionOf(uint32_t rva) const
    {
        for (const Section& s : sections_) {
            const uint32_t size = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
            if (rva >= s.rva && rva - s.rva < size) return &s;
        }
        return nullptr;
    }

    // File offset of a relative virtual address, through the section table.
    bool Map(uint32_t rva, size_t& offset) const
    {
        const Section* s = SectionOf(rva);
        if (s == nullptr || rva - s->rva >= s->rawSize) return false;
        offset = s->rawOffset + (rva - s->rva);
        return true;
    }

    std::string CString(uint32_t rva) const
    {
        size_t at = 0;
        return Map(rva, at) ? Text(at, 512) : std::string();
    }

    void AddSection(const Section& section) { sections_.push_back(section); }
    const std::vector<Section>& Sections() const { return sections_; }

private:
    std::vector<uint8_t> bytes_;
    std::vector<Section> sections_;
};

// Lines without comments, split into words.
bool ReadWords(const std::string& path, std::vector<std::vector<std::string>>& lines)
{
    std::ifstream in(NativePath(path));
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        std::istringstream stream(line);
        std::vector<std::string> words;
        for (std::string word; stream >> word;) words.push_back(word);
        if (!words.empty()) lines.push_back(words);
    }
    return !lines.empty();
}

bool ReadExports(const std::string& path, std::set<std::string>& exports)
{
    std::vector<std::vector<std::string>> lines;
    if (!ReadWords(path, lines)) return false;
    for (const auto& words : lines) {
        if (words.size() != 1) return false;
        exports.insert(words[0]);
    }
    return true;
}

// "DLL FUNCTION" pairs; each DLL named there may be imported from.
bool ReadAllowlist(const std::string& path, std::set<std::string>& allowed,
                   std::set<std::string>& dlls)
{
    std::vector<std::vector<std::string>> lines;
    if (!ReadWords(path, lines)) return false;
    for (const auto& words : lines) {
        if (words.size() != 2) return false;
        dlls.insert(Upper(words[0]));
        allowed.insert(Upper(words[0]) + " " + words[1]);
    }
    return true;
}

// "GetModuleHandleW", "MessageBoxW": the wide-character variant of an API.
bool IsWideVariant(const std::string& name)
{
    return name.size() >= 2 && name.back() == 'W' &&
           std::islower(static_cast<unsigned char>(name[name.size() - 2]));
}

// The imports: each DLL allowed, bound to nothing, its address table
// writable, each function by name and one that the DLL may give.
void CheckImports(const Image& image, size_t descriptor, const std::set<std::string>& kernel32,
                  const std::set<std::string>& allowed, const std::set<std::string>& allowedDlls)
{
    int functions = 0;
    std::set<std::string> dlls;
    for (;; descriptor += 20) {
        const uint32_t lookup = image.U32(descriptor);
        const uint32_t timeStamp = image.U32(descriptor + 4);
        const uint32_t nameRva = image.U32(descriptor + 12);
        const uint32_t address = image.U32(descriptor + 16);
        if (nameRva == 0 && address == 0) break;
        const std::string dll = Upper(image.CString(nameRva));
        dlls.insert(dll);
        const bool dllAllowed = dll == kKernel32 || allowedDlls.count(dll) != 0;
        checks.Check(dllAllowed, "imported DLL not allowed: " + dll);
        checks.Check(timeStamp == 0, dll + ": imports not bound");
        const Image::Section* table = image.SectionOf(address);
        checks.Check(table != nullptr && (table->flags & kSectionWritable) != 0,
                     "import address table in a writable section: " + dll);

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
            if (!dllAllowed) continue;
            const std::string name = image.CString(entry + 2);
            if (IsWideVariant(name))
                checks.Check(false, "wide-character function " + dll + " " + name);
            else if (dll == kKernel32)
                checks.Check(kernel32.count(name) != 0,
                             "not exported by the first Windows 95's KERNEL32.DLL: " + name);
            else
                checks.Check(allowed.count(dll + " " + name) != 0, "not allowed: " + dll + " " + name);
        }
    }
    std::string list;
    for (const std::string& d : dlls) list += " " + d;
    std::printf("imports %d functions from%s\n", functions, list.c_str());
    checks.Check(functions > 0, "imports found");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::printf("usage: image_check IMAGE KERNEL32_EXPORTS ALLOWLIST\n");
        return 2;
    }
    std::ifstream file(NativePath(argv[1]), std::ios::binary);
    if (!checks.Check(static_cast<bool>(file), std::string("read ") + argv[1])) return checks.Finish();
    Image image(std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {}));

    std::set<std::string> kernel32, allowed, allowedDlls;
    if (!checks.Check(ReadExports(argv[2], kernel32), std::string("read exports ") + argv[2]) ||
        !checks.Check(ReadAllowlist(argv[3], allowed, allowedDlls),
                      std::string("read allowlist ") + argv[3]))
        return checks.Finish();

    if (!checks.Equal<uint32_t>(0x5A4D, image.U16(0), "MZ signature")) return checks.Finish();
    const size_t pe = image.U32(0x3C);
    if (!checks.Equal<uint32_t>(0x00004550, image.U32(pe), "PE signature")) return checks.Finish();

    const size_t fileHeader = pe + 4;
    checks.Equal<uint32_t>(0x014C, image.U16(fileHeader), "machine i386");
    const uint32_t sectionCount = image.U16(fileHeader + 2);
    const uint32_t symbolTable = image.U32(fileHeader + 8);
    const uint32_t symbolCount = image.U32(fileHeader + 12);
    const uint32_t optionalSize = image.U16(fileHeader + 16);
    const uint32_t characteristics = image.U16(fileHeader + 18);
    checks.Check((characteristics & 0x0002) != 0, "executable image");
    checks.Check((characteristics & 0x0100) != 0, "32-bit machine");
    checks.Check((characteristics & 0x2000) == 0, "not a DLL");

    const size_t optional = fileHeader + 20;
    if (!checks.Equal<uint32_t>(0x010B, image.U16(optional), "PE32 optional header"))
        return checks.Finish();
    checks.Equal<uint32_t>(0x400000, image.U32(optional + 28), "image base");
    checks.Equal<uint32_t>(0x1000, image.U32(optional + 32), "section alignment");
    checks.Equal<uint32_t>(0x200, image.U32(optional + 36), "file alignment");
    checks.Equal<uint32_t>(4, image.U16(optional + 40), "major OS version");
    checks.Equal<uint32_t>(0, image.U16(optional + 42), "minor OS version");
    checks.Equal<uint32_t>(4, image.U16(optional + 48), "major subsystem version");
    checks.Equal<uint32_t>(0, image.U16(optional + 50), "minor subsystem version");
    checks.Equal<uint32_t>(2, image.U16(optional + 68), "subsystem: Windows GUI");
    const uint32_t directories = image.U32(optional + 92);

    // Section names longer than 8 characters are "/" and an offset into the
    // string table that follows the symbol table; Windows 95 reads neither.
    checks.Check(symbolTable == 0 && symbolCount == 0, "no symbol table (debugging data)");
    const size_t stringTable = static_cast<size_t>(symbolTable) + 18 * static_cast<size_t>(symbolCount);
    const size_t sectionTable = optional + optionalSize;
    for (uint32_t i = 0; i < sectionCount; ++i) {
        const size_t s = sectionTable + 40 * i;
        Image::Section section;
        section.rawName = section.name = image.Text(s, 8);
        if (section.rawName.size() > 1 && section.rawName[0] == '/' && symbolTable != 0)
            section.name = image.Text(stringTable + std::strtoul(section.rawName.c_str() + 1, nullptr, 10), 256);
        section.virtualSize = image.U32(s + 8);
        section.rva = image.U32(s + 12);
        section.rawSize = image.U32(s + 16);
        section.rawOffset = image.U32(s + 20);
        section.flags = image.U32(s + 36);
        image.AddSection(section);

        checks.Check(section.rawName.empty() || section.rawName[0] != '/',
                     "section name longer than 8 characters: " + section.name);
        checks.Check(section.name.compare(0, 6, ".debug") != 0,
                     "no debugging section: " + section.name);
        checks.Check(section.name.compare(0, 8, ".eh_fram") != 0,
                     "no unwind tables: section " + section.name);
    }

    auto directory = [&](uint32_t index, uint32_t& rva, uint32_t& size) {
        rva = size = 0;
        if (index >= directories) return;
        rva = image.U32(optional + 96 + 8 * index);
        size = image.U32(optional + 96 + 8 * index + 4);
    };
    uint32_t rva, size;
    directory(kDirectoryDebug, rva, size);
    checks.Check(rva == 0 && size == 0, "no debug directory");
    directory(kDirectoryTls, rva, size);
    checks.Check(rva == 0 && size == 0, "no TLS directory");
    directory(kDirectoryBoundImport, rva, size);
    checks.Check(rva == 0 && size == 0, "no bound import directory");
    directory(kDirectoryDelayImport, rva, size);
    checks.Check(rva == 0 && size == 0, "no delay-loaded imports");

    directory(kDirectoryImport, rva, size);
    size_t descriptor = 0;
    if (!checks.Check(rva != 0 && image.Map(rva, descriptor), "import directory present"))
        return checks.Finish();
    CheckImports(image, descriptor, kernel32, allowed, allowedDlls);
    return checks.Finish();
}
