// Reads the compiled resources back out of lumbrel.exe and compares them
// with the program's resource tables: both dialog templates control by
// control, the About string, the version resource, the icon, and the
// language of every resource. The binary formats are parsed here.
//
//   resource_check PATH-TO-lumbrel.exe
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"

namespace {

Checks checks;
const WORD kEnglishUs = 0x0409;

// ---------------------------------------------------------------------------
// Expected values.

enum ClassOrdinal : uint16_t { kButton = 0x80, kEdit = 0x81, kStatic = 0x82 };

struct ExpectedControl {
    int id;
    ClassOrdinal cls;
    const char* text;  // NULL: any non-empty text; "" empty
    uint16_t textOrdinal;  // non-zero: the text is this resource ordinal
    uint32_t style;
    int x, y, cx, cy;
};

struct ExpectedDialog {
    const char* name;
    int templateId;
    bool extended;
    uint32_t style;
    uint32_t exStyle;
    int x, y, cx, cy;
    const char* caption;
    uint16_t pointSize;
    uint16_t weight;
    uint8_t italic;
    uint8_t charset;
    const char* face;
    std::vector<ExpectedControl> controls;
};

const ExpectedDialog kAbout = {
    "IDD_ABOUT", 100, false, 0x80C800C0, 0, 0, 0, 217, 55, "About lumbrel", 8, 0, 0, 0,
    "MS Sans Serif",
    {
        {-1, kStatic, nullptr, 128, 0x50000003, 11, 17, 20, 20},
        {-1, kStatic, "lumbrel Version 1.0", 0, 0x50020080, 40, 10, 119, 8},
        {-1, kStatic, nullptr, 0, 0x50020000, 40, 25, 119, 8},
        {1, kButton, "OK", 0, 0x50030001, 178, 7, 32, 14},
    }};

const ExpectedDialog kAgpMode = {
    "IDD_AGPMODE", 102, true, 0x90C800C0, 0x00040000, 0, 0, 250, 122, "lumbrel", 8, 0, 0, 1,
    "MS Sans Serif",
    {
        {1, kButton, "Done", 0, 0x50010001, 24, 101, 35, 14},
        {1001, kButton, "Set Mode", 0, 0x50010000, 182, 100, 42, 15},
        {1005, kButton, "1x Rate", 0, 0x50020009, 182, 18, 38, 11},
        {1006, kButton, "2x Rate", 0, 0x50000009, 181, 28, 39, 14},
        {1007, kButton, "Pipe", 0, 0x50020009, 185, 67, 30, 10},
        {1008, kButton, "SBA", 0, 0x50000009, 185, 78, 30, 10},
        {1010, kButton, "Bit Rate", 0, 0x50000007, 175, 7, 51, 38},
        {1009, kButton, "Addressing", 0, 0x50000007, 173, 55, 56, 38},
        {1011, kStatic, "Chipset", 0, 0x50020000, 28, 13, 24, 8},
        {1012, kStatic, "Adapter", 0, 0x50020000, 30, 58, 28, 9},
        {1013, kEdit, "", 0, 0x50810000, 15, 68, 121, 13},
        {1014, kEdit, "", 0, 0x50810000, 18, 23, 117, 14},
        {1015, kEdit, "", 0, 0x50810000, 18, 38, 118, 14},
        {1016, kEdit, "", 0, 0x50810000, 15, 81, 122, 13},
    }};

// ---------------------------------------------------------------------------
// Reading binary resources.

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Ok() const { return ok_; }
    size_t Offset() const { return at_; }
    void Seek(size_t at) { at_ = at; }
    void AlignDword() { at_ = (at_ + 3) & ~size_t(3); }

    uint8_t Byte()
    {
        if (at_ + 1 > size_) return Fail();
        return data_[at_++];
    }
    uint16_t Word()
    {
        if (at_ + 2 > size_) return Fail();
        uint16_t v = static_cast<uint16_t>(data_[at_] | data_[at_ + 1] << 8);
        at_ += 2;
        return v;
    }
    uint32_t Dword()
    {
        uint32_t lo = Word();
        return lo | static_cast<uint32_t>(Word()) << 16;
    }
    int16_t Short() { return static_cast<int16_t>(Word()); }

    // A zero-terminated UTF-16 string, returned as ASCII (others as '?').
    std::string String()
    {
        std::string s;
        for (uint16_t c = Word(); ok_ && c != 0; c = Word())
            s += c < 0x80 ? static_cast<char>(c) : '?';
        return s;
    }

    // A string-or-ordinal field.
    struct NameOrOrdinal {
        bool isOrdinal = false;
        uint16_t ordinal = 0;
        std::string text;
    };
    NameOrOrdinal NameOrOrd()
    {
        NameOrOrdinal n;
        if (at_ + 2 <= size_ && data_[at_] == 0xFF && data_[at_ + 1] == 0xFF) {
            Word();
            n.isOrdinal = true;
            n.ordinal = Word();
        } else {
            n.text = String();
        }
        return n;
    }

private:
    uint8_t Fail()
    {
        ok_ = false;
        at_ = size_;
        return 0;
    }

    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    bool ok_ = true;
};

struct Resource {
    const uint8_t* data = nullptr;
    DWORD size = 0;
};

Resource Find(HMODULE module, LPCSTR type, LPCSTR name)
{
    Resource r;
    HRSRC info = FindResourceExA(module, type, name, kEnglishUs);
    if (info == NULL) return r;
    HGLOBAL loaded = LoadResource(module, info);
    if (loaded == NULL) return r;
    r.data = static_cast<const uint8_t*>(LockResource(loaded));
    r.size = SizeofResource(module, info);
    return r;
}

std::string Hex(uint32_t v)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%X", v);
    return buffer;
}

// ---------------------------------------------------------------------------
// Dialog templates.

const char* ClassName(uint16_t ordinal)
{
    switch (ordinal) {
    case kButton: return "BUTTON";
    case kEdit: return "EDIT";
    case kStatic: return "STATIC";
    default: return "?";
    }
}

bool SameClass(ClassOrdinal expected, const Reader::NameOrOrdinal& actual)
{
    if (actual.isOrdinal) return actual.ordinal == expected;
    // A predefined class given by name instead of its ordinal.
    return lstrcmpiA(actual.text.c_str(), ClassName(expected)) == 0;
}

void CheckDialog(HMODULE module, const ExpectedDialog& e)
{
    const std::string where = e.name;
    Resource r = Find(module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(e.templateId));
    if (!checks.Check(r.data != nullptr, where + ": template present in language 0x0409")) return;
    Reader in(r.data, r.size);

    uint32_t style, exStyle;
    if (e.extended) {
        checks.Equal<int>(1, in.Word(), where + " dlgVer");
        checks.Equal<int>(0xFFFF, in.Word(), where + " extended signature");
        checks.Equal<uint32_t>(0, in.Dword(), where + " help ID");
        exStyle = in.Dword();
        style = in.Dword();
    } else {
        checks.Check(!(r.size >= 4 && r.data[2] == 0xFF && r.data[3] == 0xFF),
                     where + ": a classic template, not an extended one");
        style = in.Dword();
        exStyle = in.Dword();
    }
    checks.Equal(e.style, style, where + " style");
    checks.Equal(e.exStyle, exStyle, where + " extended style");
    const int count = in.Word();
    checks.Equal<int>(e.x, in.Short(), where + " x");
    checks.Equal<int>(e.y, in.Short(), where + " y");
    checks.Equal<int>(e.cx, in.Short(), where + " width");
    checks.Equal<int>(e.cy, in.Short(), where + " height");
    const Reader::NameOrOrdinal menu = in.NameOrOrd();
    checks.Check(!menu.isOrdinal && menu.text.empty(), where + ": no menu");
    const Reader::NameOrOrdinal cls = in.NameOrOrd();
    checks.Check(!cls.isOrdinal && cls.text.empty(), where + ": the standard dialog class");
    checks.Equal<std::string>(e.caption, in.String(), where + " caption");
    checks.Check((style & DS_SETFONT) != 0, where + ": DS_SETFONT");
    checks.Equal<int>(e.pointSize, in.Word(), where + " font size");
    if (e.extended) {
        checks.Equal<int>(e.weight, in.Word(), where + " font weight");
        checks.Equal<int>(e.italic, in.Byte(), where + " font italic");
        checks.Equal<int>(e.charset, in.Byte(), where + " font character set");
    }
    checks.Equal<std::string>(e.face, in.String(), where + " font face");
    if (!checks.Equal<int>(static_cast<int>(e.controls.size()), count, where + " control count"))
        return;

    for (size_t i = 0; i < e.controls.size(); ++i) {
        const ExpectedControl& c = e.controls[i];
        const std::string at = where + " control " + std::to_string(i + 1);
        in.AlignDword();
        uint32_t helpId = 0, cStyle, cExStyle;
        if (e.extended) {
            helpId = in.Dword();
            cExStyle = in.Dword();
            cStyle = in.Dword();
        } else {
            cStyle = in.Dword();
            cExStyle = in.Dword();
        }
        const int x = in.Short(), y = in.Short(), cx = in.Short(), cy = in.Short();
        const int id = e.extended ? static_cast<int>(in.Dword()) : static_cast<int16_t>(in.Word());
        const Reader::NameOrOrdinal ctlClass = in.NameOrOrd();
        const Reader::NameOrOrdinal text = in.NameOrOrd();
        const int extra = in.Word();
        in.Seek(in.Offset() + extra);

        checks.Equal(c.id, id, at + " ID");
        checks.Check(SameClass(c.cls, ctlClass),
                     at + " class " + ClassName(c.cls) + ", got " +
                         (ctlClass.isOrdinal ? Hex(ctlClass.ordinal) : "\"" + ctlClass.text + "\""));
        if (c.textOrdinal != 0) {
            checks.Check(text.isOrdinal && text.ordinal == c.textOrdinal,
                         at + " text is the resource ordinal " + std::to_string(c.textOrdinal));
        } else if (c.text == nullptr) {
            checks.Check(!text.isOrdinal && !text.text.empty(), at + " text is not empty");
        } else {
            checks.Check(!text.isOrdinal, at + " text is a string");
            checks.Equal<std::string>(c.text, text.text, at + " text");
        }
        checks.Equal(c.style, cStyle, at + " style");
        checks.Equal<uint32_t>(0, cExStyle, at + " extended style");
        checks.Equal<uint32_t>(0, helpId, at + " help ID");
        checks.Equal(c.x, x, at + " x");
        checks.Equal(c.y, y, at + " y");
        checks.Equal(c.cx, cx, at + " width");
        checks.Equal(c.cy, cy, at + " height");
        checks.Equal(0, extra, at + " creation data bytes");
    }
    checks.Check(in.Ok(), where + ": the template is complete");
}

// ---------------------------------------------------------------------------
// String table.

void CheckStrings(HMODULE module)
{
    // String 101 lives in block 101 / 16 + 1 = 7, at index 101 % 16 = 5.
    Resource r = Find(module, MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(7));
    if (!checks.Check(r.data != nullptr, "string block 7 present in language 0x0409")) return;
    Reader in(r.data, r.size);
    for (int i = 0; i < 16; ++i) {
        const int length = in.Word();
        std::string s;
        for (int k = 0; k < length; ++k) {
            const uint16_t c = in.Word();
            s += c < 0x80 ? static_cast<char>(c) : '?';
        }
        if (i == 5)
            checks.Equal<std::string>("&About lumbrel...", s, "string 101");
        else
            checks.Check(s.empty(), "no string " + std::to_string(96 + i));
    }
    checks.Check(in.Ok(), "string block complete");

    char loaded[64] = "";
    LoadStringA(module, 101, loaded, sizeof loaded);
    checks.Equal<std::string>("&About lumbrel...", loaded, "LoadStringA(101)");
    // No application-title string: the program is named after its file.
    checks.Check(LoadStringA(module, 0xE000, loaded, sizeof loaded) == 0, "no string 0xE000");
}

// ---------------------------------------------------------------------------
// Version resource.

struct VersionNode {
    std::string key;
    uint16_t type = 0;
    std::vector<uint8_t> value;
    std::vector<VersionNode> children;
};

// One node of the version tree: length, value length, type, key, value, children.
bool ParseVersionNode(const uint8_t* data, size_t size, bool textValue, VersionNode& node)
{
    Reader in(data, size);
    const size_t length = in.Word();
    const size_t valueLength = in.Word();
    node.type = in.Word();
    node.key = in.String();
    in.AlignDword();
    if (!in.Ok() || length > size || length < in.Offset()) return false;
    const size_t valueBytes = (textValue && node.type == 1) ? valueLength * 2 : valueLength;
    if (in.Offset() + valueBytes > length) return false;
    node.value.assign(data + in.Offset(), data + in.Offset() + valueBytes);
    size_t at = (in.Offset() + valueBytes + 3) & ~size_t(3);
    while (at + 6 <= length) {
        const size_t childLength = data[at] | data[at + 1] << 8;
        if (childLength == 0 || at + childLength > length) return false;
        VersionNode child;
        if (!ParseVersionNode(data + at, childLength, true, child)) return false;
        node.children.push_back(child);
        at = (at + childLength + 3) & ~size_t(3);
    }
    return true;
}

std::string TextValue(const VersionNode& node)
{
    std::string s;
    for (size_t i = 0; i + 1 < node.value.size(); i += 2) {
        const uint16_t c = static_cast<uint16_t>(node.value[i] | node.value[i + 1] << 8);
        if (c == 0) break;
        s += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return s;
}

const VersionNode* Child(const VersionNode& node, const std::string& key)
{
    for (const VersionNode& child : node.children)
        if (child.key == key) return &child;
    return nullptr;
}

void CheckVersion(HMODULE module)
{
    Resource r = Find(module, MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1));
    if (!checks.Check(r.data != nullptr, "version resource 1 present in language 0x0409")) return;
    VersionNode root;
    if (!checks.Check(ParseVersionNode(r.data, r.size, false, root), "version resource parses"))
        return;
    checks.Equal<std::string>("VS_VERSION_INFO", root.key, "version root key");
    if (!checks.Equal<size_t>(52, root.value.size(), "VS_FIXEDFILEINFO size")) return;

    Reader fixed(root.value.data(), root.value.size());
    checks.Equal<uint32_t>(0xFEEF04BD, fixed.Dword(), "fixed info signature");
    fixed.Dword();  // structure version
    checks.Equal<uint32_t>(0x00010000, fixed.Dword(), "file version 1.0 (high)");
    checks.Equal<uint32_t>(0x00000001, fixed.Dword(), "file version .0.1 (low)");
    checks.Equal<uint32_t>(0x00010000, fixed.Dword(), "product version 1.0 (high)");
    checks.Equal<uint32_t>(0x00000001, fixed.Dword(), "product version .0.1 (low)");
    checks.Equal<uint32_t>(0x3F, fixed.Dword(), "file flags mask");
    checks.Equal<uint32_t>(0, fixed.Dword(), "file flags");
    checks.Equal<uint32_t>(0x4, fixed.Dword(), "file OS");
    checks.Equal<uint32_t>(0x1, fixed.Dword(), "file type");
    checks.Equal<uint32_t>(0, fixed.Dword(), "file subtype");
    checks.Equal<uint32_t>(0, fixed.Dword(), "file date (high)");
    checks.Equal<uint32_t>(0, fixed.Dword(), "file date (low)");

    const VersionNode* strings = Child(root, "StringFileInfo");
    if (checks.Check(strings != nullptr, "StringFileInfo present")) {
        checks.Equal<size_t>(1, strings->children.size(), "string blocks");
        const VersionNode* block = Child(*strings, "040904b0");
        if (checks.Check(block != nullptr, "string block \"040904b0\"")) {
            const struct {
                const char* key;
                const char* value;  // NULL: any non-empty value
            } expected[] = {
                {"FileVersion", "1, 0, 0, 1"},
                {"InternalName", "lumbrel"},
                {"OriginalFilename", "lumbrel.EXE"},
                {"ProductName", "lumbrel Application"},
                {"ProductVersion", "1, 0, 0, 1"},
                {"CompanyName", nullptr},
                {"FileDescription", nullptr},
                {"LegalCopyright", nullptr},
                {"LegalTrademarks", nullptr},
            };
            checks.Equal<size_t>(9, block->children.size(), "entries of the string block");
            for (const auto& e : expected) {
                const VersionNode* entry = Child(*block, e.key);
                if (!checks.Check(entry != nullptr, std::string("version string ") + e.key))
                    continue;
                if (e.value)
                    checks.Equal<std::string>(e.value, TextValue(*entry),
                                              std::string("version string ") + e.key);
                else
                    checks.Check(!TextValue(*entry).empty(),
                                 std::string("version string ") + e.key + " has a value");
            }
        }
    }

    const VersionNode* vars = Child(root, "VarFileInfo");
    if (checks.Check(vars != nullptr, "VarFileInfo present")) {
        const VersionNode* translation = Child(*vars, "Translation");
        if (checks.Check(translation != nullptr, "Translation present") &&
            checks.Equal<size_t>(4, translation->value.size(), "one Translation entry")) {
            Reader t(translation->value.data(), 4);
            checks.Equal<int>(0x0409, t.Word(), "Translation language");
            checks.Equal<int>(1200, t.Word(), "Translation code page");
        }
    }
}

// ---------------------------------------------------------------------------
// Icon.

const uint8_t kStandardPalette[16][3] = {
    {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
    {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
    {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
};
const int kBlack = 0;
const int kDarkGreen = 2;

// Palette indices of one 4-bit icon image, rows from the top.
struct IconPixels {
    int size = 0;
    std::vector<int> index;
    int At(int x, int y) const { return index[y * size + x]; }
};

bool CheckIconImage(HMODULE module, int id, int size, DWORD bytes, IconPixels& pixels)
{
    const std::string where = "icon image " + std::to_string(size) + "x" + std::to_string(size);
    Resource r = Find(module, MAKEINTRESOURCEA(3), MAKEINTRESOURCEA(id));
    if (!checks.Check(r.data != nullptr, where + " present in language 0x0409")) return false;
    if (!checks.Equal(bytes, r.size, where + " bytes")) return false;
    Reader in(r.data, r.size);
    checks.Equal<uint32_t>(40, in.Dword(), where + " header size");
    checks.Equal<uint32_t>(size, in.Dword(), where + " width");
    checks.Equal<uint32_t>(2 * size, in.Dword(), where + " height (colour and mask)");
    checks.Equal<int>(1, in.Word(), where + " planes");
    checks.Equal<int>(4, in.Word(), where + " bits per pixel");
    checks.Equal<uint32_t>(0, in.Dword(), where + " compression");
    in.Seek(40);
    bool standard = true;
    for (const auto& rgb : kStandardPalette) {
        const int b = in.Byte(), g = in.Byte(), red = in.Byte();
        in.Byte();
        standard = standard && red == rgb[0] && g == rgb[1] && b == rgb[2];
    }
    checks.Check(standard, where + ": the standard 16-colour palette");

    const int xorRow = (size * 4 + 31) / 32 * 4;
    const int andRow = (size + 31) / 32 * 4;
    const size_t xorStart = 40 + 64;
    const size_t andStart = xorStart + static_cast<size_t>(xorRow) * size;
    if (!checks.Equal<size_t>(andStart + static_cast<size_t>(andRow) * size, r.size,
                              where + " layout"))
        return false;
    bool maskClear = true;
    for (size_t i = andStart; i < r.size; ++i) maskClear = maskClear && r.data[i] == 0;
    checks.Check(maskClear, where + ": AND mask all zero (opaque)");

    pixels.size = size;
    pixels.index.assign(static_cast<size_t>(size) * size, 0);
    for (int y = 0; y < size; ++y) {
        const uint8_t* row = r.data + xorStart + static_cast<size_t>(size - 1 - y) * xorRow;
        for (int x = 0; x < size; ++x)
            pixels.index[y * size + x] = (x % 2 == 0) ? row[x / 2] >> 4 : row[x / 2] & 0xF;
    }
    bool twoColours = true;
    for (int v : pixels.index) twoColours = twoColours && (v == kBlack || v == kDarkGreen);
    checks.Check(twoColours, where + ": only black and dark green");
    checks.Check(pixels.At(0, 0) == kDarkGreen && pixels.At(size - 1, 0) == kDarkGreen &&
                     pixels.At(0, size - 1) == kDarkGreen &&
                     pixels.At(size - 1, size - 1) == kDarkGreen,
                 where + ": dark green ground in the corners");
    int black = 0;
    for (int v : pixels.index) black += v == kBlack;
    checks.Check(black > 0 && black < size * size / 2, where + ": black figures on the ground");
    return true;
}

// Runs of columns that hold black pixels between rows top and bottom.
std::vector<std::pair<int, int>> BlackColumnRuns(const IconPixels& p, int top, int bottom)
{
    std::vector<std::pair<int, int>> runs;
    for (int x = 0; x < p.size; ++x) {
        bool any = false;
        for (int y = top; y < bottom; ++y) any = any || p.At(x, y) == kBlack;
        if (!any) continue;
        if (!runs.empty() && runs.back().second == x - 1)
            runs.back().second = x;
        else
            runs.push_back({x, x});
    }
    return runs;
}

void CheckIcon(HMODULE module)
{
    Resource r = Find(module, MAKEINTRESOURCEA(14), MAKEINTRESOURCEA(128));
    if (!checks.Check(r.data != nullptr, "group icon 128 present in language 0x0409")) return;
    Reader in(r.data, r.size);
    checks.Equal<int>(0, in.Word(), "group icon reserved");
    checks.Equal<int>(1, in.Word(), "group icon type");
    if (!checks.Equal<int>(2, in.Word(), "group icon images")) return;

    const struct {
        int size;
        DWORD bytes;
    } expected[] = {{32, 744}, {16, 296}};
    IconPixels big, small;
    for (int i = 0; i < 2; ++i) {
        const std::string where = "group icon entry " + std::to_string(i + 1);
        const int width = in.Byte(), height = in.Byte(), colours = in.Byte();
        in.Byte();
        const int planes = in.Word(), bits = in.Word();
        const DWORD bytes = in.Dword();
        const int id = in.Word();
        checks.Equal(expected[i].size, width, where + " width");
        checks.Equal(expected[i].size, height, where + " height");
        checks.Equal(16, colours, where + " colours");
        checks.Equal(1, planes, where + " planes");
        checks.Equal(4, bits, where + " bits per pixel");
        checks.Equal(expected[i].bytes, bytes, where + " bytes");
        CheckIconImage(module, id, expected[i].size, expected[i].bytes, i == 0 ? big : small);
    }
    if (big.size != 32) return;

    // The big picture: three letters side by side in the upper half (three
    // separate runs of columns with black), and a question mark below: one
    // figure whose dot is set apart from its hook by a row of ground.
    const auto upper = BlackColumnRuns(big, 0, 16);
    checks.Equal<size_t>(3, upper.size(), "32x32: three letters in the upper half");
    const auto lower = BlackColumnRuns(big, 16, 32);
    checks.Equal<size_t>(1, lower.size(), "32x32: one figure in the lower half");
    if (lower.size() == 1)
        checks.Check(lower[0].first >= 6 && lower[0].second <= 25, "32x32: the lower figure is central");
    std::vector<bool> rowBlack(32, false);
    for (int y = 16; y < 32; ++y)
        for (int x = 0; x < 32; ++x) rowBlack[y] = rowBlack[y] || big.At(x, y) == kBlack;
    int segments = 0;
    for (int y = 16; y < 32; ++y) segments += rowBlack[y] && (y == 16 || !rowBlack[y - 1]);
    checks.Equal(2, segments, "32x32: the question mark's hook and its dot");
    bool letterRowsOnly = true;
    for (int x = 0; x < 32; ++x) letterRowsOnly = letterRowsOnly && big.At(x, 15) == kDarkGreen;
    checks.Check(letterRowsOnly, "32x32: letters and question mark apart");
}

// ---------------------------------------------------------------------------
// Every resource's language.

struct Enumerated {
    int count = 0;
    std::vector<std::string> wrongLanguage;
};

std::string ResName(LPCSTR name)
{
    return IS_INTRESOURCE(name) ? "#" + std::to_string(reinterpret_cast<uintptr_t>(name)) : name;
}

BOOL CALLBACK OnLanguage(HMODULE, LPCSTR type, LPCSTR name, WORD language, LONG_PTR param)
{
    Enumerated* e = reinterpret_cast<Enumerated*>(param);
    ++e->count;
    if (language != kEnglishUs)
        e->wrongLanguage.push_back(ResName(type) + "/" + ResName(name) + " " + Hex(language));
    return TRUE;
}

BOOL CALLBACK OnName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param)
{
    EnumResourceLanguagesA(module, type, name, OnLanguage, param);
    return TRUE;
}

BOOL CALLBACK OnType(HMODULE module, LPSTR type, LONG_PTR param)
{
    EnumResourceNamesA(module, type, OnName, param);
    return TRUE;
}

void CheckLanguages(HMODULE module)
{
    Enumerated e;
    EnumResourceTypesA(module, OnType, reinterpret_cast<LONG_PTR>(&e));
    // Two dialogs, one string block, two icon images, one group, one version.
    checks.Check(e.count >= 7, "resources enumerated: " + std::to_string(e.count));
    std::string wrong;
    for (const std::string& w : e.wrongLanguage) wrong += " " + w;
    checks.Check(e.wrongLanguage.empty(), "every resource in language 0x0409;" + wrong);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::printf("usage: resource_check PATH-TO-EXE\n");
        return 2;
    }
    const std::string path = NativePath(argv[1]);
    HMODULE module = LoadLibraryExA(path.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!checks.Check(module != NULL, "load " + path + " as a data file")) return checks.Finish();

    CheckDialog(module, kAbout);
    CheckDialog(module, kAgpMode);
    CheckStrings(module);
    CheckVersion(module);
    CheckIcon(module);
    CheckLanguages(module);
    FreeLibrary(module);
    return checks.Finish();
}
