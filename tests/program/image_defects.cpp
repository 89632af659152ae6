// Writes copies of a good image, each with one defect that the image check
// must report: a header field or directory entry that Windows 95's loader
// does not take, an import bound or by ordinal, an import address table
// that is not writable, a DLL that is not allowed. (bad_image.cpp gives
// the defects that come from building: the C runtime DLL, its TLS
// directory, unwind tables, debugging data, functions Windows 95 lacks.)
//
//   image_defects IMAGE OUTDIR      writes OUTDIR/<defect>.exe for each
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "check.h"

namespace {

// A PE image's bytes and where its headers are.
struct Pe {
    std::vector<uint8_t> bytes;
    size_t fileHeader = 0, optional = 0, sections = 0;
    uint32_t sectionCount = 0;

    uint32_t U32(size_t at) const
    {
        return bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16 |
               static_cast<uint32_t>(bytes.at(at + 3)) << 24;
    }
    void Set16(size_t at, uint32_t v)
    {
        bytes.at(at) = v & 0xFF;
        bytes.at(at + 1) = (v >> 8) & 0xFF;
    }
    void Set32(size_t at, uint32_t v)
    {
        Set16(at, v & 0xFFFF);
        Set16(at + 2, v >> 16);
    }
    size_t Directory(uint32_t index) const { return optional + 96 + 8 * index; }
    // A directory entry that points at something.
    void SetDirectory(uint32_t index, uint32_t size)
    {
        Set32(Directory(index), 0x1000);
        Set32(Directory(index) + 4, size);
    }

    // The section header that holds `rva`, and the file offset of `rva`.
    size_t SectionHeaderOf(uint32_t rva) const
    {
        for (uint32_t i = 0; i < sectionCount; ++i) {
            const size_t s = sections + 40 * i;
            if (rva >= U32(s + 12) && rva - U32(s + 12) < U32(s + 16)) return s;
        }
        throw std::runtime_error("address outside the sections");
    }
    size_t Offset(uint32_t rva) const
    {
        const size_t s = SectionHeaderOf(rva);
        return U32(s + 20) + (rva - U32(s + 12));
    }
    // The first import descriptor.
    size_t FirstImport() const { return Offset(U32(Directory(1))); }
};

// Replaces an imported DLL's name by another of the same length.
void RenameDll(Pe& pe, const char* from, const char* to)
{
    for (size_t d = pe.FirstImport(); pe.U32(d + 12) != 0; d += 20) {
        const size_t name = pe.Offset(pe.U32(d + 12));
        if (std::memcmp(&pe.bytes.at(name), from, std::strlen(from) + 1) == 0) {
            std::memcpy(&pe.bytes[name], to, std::strlen(to));
            return;
        }
    }
    throw std::runtime_error(std::string("no import from ") + from);
}

struct Defect {
    const char* name;
    void (*apply)(Pe&);
};

const Defect kDefects[] = {
    {"mz-signature", [](Pe& pe) { pe.Set16(0, 0x4D5A); }},
    {"machine-amd64", [](Pe& pe) { pe.Set16(pe.fileHeader, 0x8664); }},
    {"not-executable", [](Pe& pe) { pe.Set16(pe.fileHeader + 18, pe.U32(pe.fileHeader + 18) & 0xFFFD); }},
    {"not-32-bit", [](Pe& pe) { pe.Set16(pe.fileHeader + 18, pe.U32(pe.fileHeader + 18) & 0xFEFF); }},
    {"dll", [](Pe& pe) { pe.Set16(pe.fileHeader + 18, (pe.U32(pe.fileHeader + 18) & 0xFFFF) | 0x2000); }},
    {"pe32-plus", [](Pe& pe) { pe.Set16(pe.optional, 0x20B); }},
    {"image-base", [](Pe& pe) { pe.Set32(pe.optional + 28, 0x10000000); }},
    {"section-alignment", [](Pe& pe) { pe.Set32(pe.optional + 32, 0x2000); }},
    {"file-alignment", [](Pe& pe) { pe.Set32(pe.optional + 36, 0x1000); }},
    {"os-version-5", [](Pe& pe) { pe.Set16(pe.optional + 40, 5); }},
    {"os-version-4.10", [](Pe& pe) { pe.Set16(pe.optional + 42, 10); }},
    {"subsystem-version-5", [](Pe& pe) { pe.Set16(pe.optional + 48, 5); }},
    {"subsystem-version-4.10", [](Pe& pe) { pe.Set16(pe.optional + 50, 10); }},
    {"debug-directory", [](Pe& pe) { pe.SetDirectory(6, 28); }},
    {"bound-import-directory", [](Pe& pe) { pe.SetDirectory(11, 8); }},
    {"delay-import-directory", [](Pe& pe) { pe.SetDirectory(13, 32); }},
    // A time stamp of -1 in the descriptor: the imports are bound.
    {"bound-descriptor", [](Pe& pe) { pe.Set32(pe.FirstImport() + 4, 0xFFFFFFFFu); }},
    // The first name of the first DLL's lookup table becomes ordinal 1.
    {"import-by-ordinal", [](Pe& pe) { pe.Set32(pe.Offset(pe.U32(pe.FirstImport())), 0x80000001u); }},
    {"read-only-import-addresses", [](Pe& pe) {
         const size_t s = pe.SectionHeaderOf(pe.U32(pe.FirstImport() + 16));
         pe.Set32(s + 36, pe.U32(s + 36) & 0x7FFFFFFFu);
     }},
    {"crtdll", [](Pe& pe) { RenameDll(pe, "USER32.dll", "CRTDLL.dll"); }},
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::printf("usage: image_defects IMAGE OUTDIR\n");
        return 2;
    }
    std::ifstream in(NativePath(argv[1]), std::ios::binary);
    if (!in) {
        std::printf("image_defects: cannot read %s\n", argv[1]);
        return 1;
    }
    Pe good;
    good.bytes.assign(std::istreambuf_iterator<char>(in), {});
    try {
        good.fileHeader = good.U32(0x3C) + 4;
        good.optional = good.fileHeader + 20;
        good.sectionCount = good.U32(good.fileHeader + 2) & 0xFFFF;
        good.sections = good.optional + (good.U32(good.fileHeader + 16) & 0xFFFF);
        for (const Defect& defect : kDefects) {
            Pe bad = good;
            defect.apply(bad);
            const std::string path = NativePath(argv[2]) + "/" + defect.name + ".exe";
            std::ofstream out(path, std::ios::binary);
            out.write(reinterpret_cast<const char*>(bad.bytes.data()),
                      static_cast<std::streamsize>(bad.bytes.size()));
            if (!out) {
                std::printf("image_defects: cannot write %s\n", path.c_str());
                return 1;
            }
            std::printf("%s\n", path.c_str());
        }
    } catch (const std::exception& e) {
        std::printf("image_defects: %s: %s\n", argv[1], e.what());
        return 1;
    }
    return 0;
}
