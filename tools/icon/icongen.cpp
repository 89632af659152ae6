// Builds a 16-colour Windows icon file from text pixel grids.
//
//   icongen SOURCE OUTPUT          write the icon file
//   icongen --compare SOURCE ICO   exit 1 unless ICO is exactly what SOURCE gives
//
// SOURCE holds one block per image: a line "image N" (N pixels square, a
// multiple of 8) followed by N rows of N pixels, top row first. A pixel is
// '#' (black), '.' (dark green) or a hex digit naming a colour of the
// standard 16-colour palette. Lines starting with ';' and empty lines
// between blocks are ignored. Every image is 4 bits per pixel with that
// palette and an all-zero AND mask (fully opaque).
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Image {
    unsigned size = 0;
    std::vector<uint8_t> pixels;  // palette indices, row by row from the top
};

// The standard 16-colour palette as red, green, blue.
const uint8_t kPalette[16][3] = {
    {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
    {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
    {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
};

bool PixelIndex(char c, uint8_t& index)
{
    if (c == '#') index = 0;
    else if (c == '.') index = 2;
    else if (c >= '0' && c <= '9') index = static_cast<uint8_t>(c - '0');
    else if (c >= 'a' && c <= 'f') index = static_cast<uint8_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') index = static_cast<uint8_t>(c - 'A' + 10);
    else return false;
    return true;
}

bool Fail(const std::string& where, unsigned line, const std::string& what)
{
    std::cerr << where << ":" << line << ": " << what << "\n";
    return false;
}

bool ParseSource(const std::string& path, std::vector<Image>& images)
{
    std::ifstream in(path);
    if (!in) return Fail(path, 0, "cannot open");
    std::string text;
    unsigned lineNo = 0;
    Image* current = nullptr;
    unsigned rows = 0;
    while (std::getline(in, text)) {
        ++lineNo;
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (current && rows < current->size) {
            if (text.size() != current->size)
                return Fail(path, lineNo, "row must have " + std::to_string(current->size) + " pixels");
            for (char c : text) {
                uint8_t index = 0;
                if (!PixelIndex(c, index)) return Fail(path, lineNo, std::string("bad pixel '") + c + "'");
                current->pixels.push_back(index);
            }
            ++rows;
            continue;
        }
        if (text.empty() || text[0] == ';') continue;
        std::istringstream words(text);
        std::string keyword;
        int size = 0;
        std::string rest;
        if (!(words >> keyword >> size) || keyword != "image" || (words >> rest))
            return Fail(path, lineNo, "expected \"image N\"");
        if (size < 8 || size > 255 || size % 8 != 0)
            return Fail(path, lineNo, "image size must be a multiple of 8 up to 248");
        images.emplace_back();
        current = &images.back();
        current->size = static_cast<unsigned>(size);
        rows = 0;
    }
    if (current && rows < current->size) return Fail(path, lineNo, "image ends early");
    if (images.empty()) return Fail(path, lineNo, "no image");
    return true;
}

void Put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// One icon image: BITMAPINFOHEADER, palette, colour bits bottom-up, AND mask.
std::vector<uint8_t> ImageData(const Image& image)
{
    const unsigned n = image.size;
    const unsigned xorRow = (n * 4 + 31) / 32 * 4;
    const unsigned andRow = (n + 31) / 32 * 4;
    std::vector<uint8_t> out;
    Put32(out, 40);             // header size
    Put32(out, n);              // width
    Put32(out, 2 * n);          // height of colour bits and mask together
    Put16(out, 1);              // planes
    Put16(out, 4);              // bits per pixel
    Put32(out, 0);              // no compression
    Put32(out, (xorRow + andRow) * n);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    for (const auto& rgb : kPalette) {
        out.push_back(rgb[2]);
        out.push_back(rgb[1]);
        out.push_back(rgb[0]);
        out.push_back(0);
    }
    for (unsigned y = n; y-- > 0;) {
        std::vector<uint8_t> row(xorRow, 0);
        for (unsigned x = 0; x < n; ++x) {
            const uint8_t index = image.pixels[y * n + x];
            row[x / 2] |= static_cast<uint8_t>(x % 2 == 0 ? index << 4 : index);
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    out.insert(out.end(), static_cast<size_t>(andRow) * n, 0);
    return out;
}

std::vector<uint8_t> IconFile(const std::vector<Image>& images)
{
    std::vector<uint8_t> out;
    Put16(out, 0);
    Put16(out, 1);  // icon
    Put16(out, static_cast<uint32_t>(images.size()));
    std::vector<std::vector<uint8_t>> data;
    for (const Image& image : images) data.push_back(ImageData(image));
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        out.push_back(static_cast<uint8_t>(images[i].size));
        out.push_back(static_cast<uint8_t>(images[i].size));
        out.push_back(16);  // colours
        out.push_back(0);
        Put16(out, 1);      // planes
        Put16(out, 4);      // bits per pixel
        Put32(out, static_cast<uint32_t>(data[i].size()));
        Put32(out, offset);
        offset += static_cast<uint32_t>(data[i].size());
    }
    for (const auto& d : data) out.insert(out.end(), d.begin(), d.end());
    return out;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool compare = argc == 4 && std::string(argv[1]) == "--compare";
    if (argc != 3 && !compare) {
        std::cerr << "usage: icongen SOURCE OUTPUT | icongen --compare SOURCE ICO\n";
        return 2;
    }
    const std::string source = argv[compare ? 2 : 1];
    const std::string target = argv[compare ? 3 : 2];
    std::vector<Image> images;
    if (!ParseSource(source, images)) return 1;
    const std::vector<uint8_t> icon = IconFile(images);

    if (compare) {
        std::vector<uint8_t> existing;
        if (!ReadFile(target, existing)) {
            std::cerr << target << ": cannot read\n";
            return 1;
        }
        if (existing != icon) {
            size_t at = 0;
            while (at < existing.size() && at < icon.size() && existing[at] == icon[at]) ++at;
            std::cerr << target << " differs from what " << source << " gives (first at byte " << at
                      << "; " << existing.size() << " bytes, expected " << icon.size()
                      << "): regenerate it with icongen\n";
            return 1;
        }
        return 0;
    }
    std::ofstream out(target, std::ios::binary);
    out.write(reinterpret_cast<const char*>(icon.data()), static_cast<std::streamsize>(icon.size()));
    if (!out) {
        std::cerr << target << ": cannot write\n";
        return 1;
    }
    return 0;
}
