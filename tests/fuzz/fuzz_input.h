// How fuzz_agp reads its input bytes: the user's requests, then a few
// functions at chosen places, each built from a shape that makes AGP
// capabilities, the two class codes, cycles and odd pointers common, or
// given as 256 raw bytes (the form seeds from machine files take).
//
//   byte 0   rate and addressing requests of two Set Mode rounds (2 bits each)
//   byte 1   bit 0: run a second Set Mode round
//   then records until the input ends:
//     shape byte; shape 7: bus, devFn, 256 configuration bytes;
//     other shapes: place byte, devFn, then the shape's own bytes.
// Missing bytes read as 0, so every input is a machine.
#ifndef LUMBREL_TESTS_FUZZ_INPUT_H
#define LUMBREL_TESTS_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "agp.h"
#include "pci_dump.h"

namespace fuzz {

const unsigned kMaxFunctions = 32;
const unsigned kMaxHeaders = 4;
const uint8_t kRawShape = 7;

struct Requests {
    RateRequest rate[2];
    AddressingRequest addressing[2];
    unsigned rounds;
};

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool AtEnd() const { return pos_ >= size_; }
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint32_t Dword()
    {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= uint32_t(Byte()) << (8 * i);
        return value;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

inline void SetDword(PciDumpFunction& f, uint32_t offset, uint32_t value)
{
    for (uint32_t i = 0; i < 4; ++i) f.config[(offset + i) & 0xFF] = uint8_t(value >> (8 * i));
}

inline uint32_t GetDword(const PciDumpFunction& f, uint32_t offset)
{
    uint32_t value = 0;
    for (uint32_t i = 0; i < 4; ++i) value |= uint32_t(f.config[(offset + i) & 0xFF]) << (8 * i);
    return value;
}

// An AGP status or command value: mostly the bits that matter here, with
// or without request depth and AGP enable; now and then any value.
inline uint32_t AgpRegister(Reader& in)
{
    const uint8_t b = in.Byte();
    if (b & 0x80) return in.Dword();
    return (b & 0x07) | ((b & 0x08) ? 0x200u : 0) | ((b & 0x10) ? 0x100u : 0) |
           ((b & 0x20) ? 0x1F000000u : 0);
}

inline PciDumpFunction ShapedFunction(uint8_t shape, Reader& in)
{
    PciDumpFunction f;
    const uint8_t place = in.Byte();
    f.bus = (place & 0x80) ? uint8_t(0xFF - (place & 3)) : uint8_t(place & 3);
    f.devFn = in.Byte();

    uint32_t id;
    switch (in.Byte() & 7) {
    case 0: id = 0x3C915A17; break;
    case 1: id = 0x3C935A17; break;
    case 2: id = 0x47421002; break;  // vendor low byte 2: an AGP header at offset 0
    case 3: id = (in.Byte() & 1) ? 0xFFFFFFFF : 0; break;  // reads as absent
    default: id = in.Dword(); break;
    }
    SetDword(f, 0x00, id);

    const uint8_t flags = in.Byte();
    SetDword(f, 0x04, (flags & 1) ? 0x02000007u : 0x02100007u);  // capabilities-list bit

    uint32_t classCode;
    switch (shape) {
    case 0: case 1: classCode = 0x0300; break;
    case 2: case 3: classCode = 0x0600; break;
    case 4: classCode = 0x0380; break;
    default: classCode = uint32_t(in.Byte()) << 8 | in.Byte(); break;
    }
    SetDword(f, 0x08, classCode << 16 | in.Byte() << 8 | in.Byte());

    // The capability list: 1 to 4 headers at chosen offsets. Each next
    // pointer goes on to the next header, ends the list, goes back to an
    // earlier header (a cycle) or is any byte.
    const unsigned headers = 1 + ((flags >> 1) & 3);
    uint8_t offsets[kMaxHeaders];
    for (unsigned i = 0; i < headers; ++i) offsets[i] = in.Byte();
    SetDword(f, 0x34, (flags & 0x08) ? in.Byte() : offsets[0]);
    for (unsigned i = 0; i < headers; ++i) {
        const uint8_t idByte = in.Byte();
        const uint8_t capId = (idByte & 0x80) ? kAgpCapabilityId : (idByte & 0x7F);
        const uint8_t nextByte = in.Byte();
        uint8_t next;
        switch (nextByte >> 6) {
        case 0: next = i + 1 < headers ? offsets[i + 1] : 0; break;
        case 1: next = 0; break;
        case 2: next = offsets[nextByte % (i + 1)]; break;
        default: next = in.Byte(); break;
        }
        SetDword(f, offsets[i], capId | next << 8 | uint32_t(in.Byte()) << 16);
        if (capId == kAgpCapabilityId) {
            SetDword(f, offsets[i] + 4, AgpRegister(in));
            SetDword(f, offsets[i] + 8, AgpRegister(in));
        }
    }
    if (classCode == 0x0600) SetDword(f, 0xAC, in.Byte());

    // A few dwords anywhere, over whatever the shape put there.
    for (unsigned patches = (flags >> 4) & 3; patches > 0; --patches) {
        const uint8_t offset = in.Byte();
        SetDword(f, offset, in.Dword());
    }
    return f;
}

inline Requests DecodeRequests(Reader& in)
{
    Requests requests;
    const uint8_t b = in.Byte();
    for (unsigned round = 0; round < 2; ++round) {
        requests.rate[round] = RateRequest(((b >> (4 * round)) & 3) % 3);
        requests.addressing[round] = AddressingRequest(((b >> (4 * round + 2)) & 3) % 3);
    }
    requests.rounds = 1 + (in.Byte() & 1);
    return requests;
}

// The functions of the machine; a later function at the same place
// replaces an earlier one.
inline std::vector<PciDumpFunction> DecodeFunctions(Reader& in)
{
    std::vector<PciDumpFunction> functions;
    while (!in.AtEnd() && functions.size() < kMaxFunctions) {
        const uint8_t shape = in.Byte() & 7;
        PciDumpFunction f;
        if (shape == kRawShape) {
            f.bus = in.Byte();
            f.devFn = in.Byte();
            for (uint8_t& byte : f.config) byte = in.Byte();
        } else {
            f = ShapedFunction(shape, in);
        }
        bool replaced = false;
        for (PciDumpFunction& existing : functions) {
            if (existing.bus == f.bus && existing.devFn == f.devFn) {
                existing = f;
                replaced = true;
            }
        }
        if (!replaced) functions.push_back(f);
    }
    return functions;
}

// A seed from parsed functions: two Set Mode rounds (2x with SBA, then 1x
// with pipelining) over the functions as raw records.
inline std::vector<uint8_t> EncodeSeed(const std::vector<PciDumpFunction>& functions)
{
    std::vector<uint8_t> bytes = {uint8_t(RATE_2X | ADDR_SBA << 2 | RATE_1X << 4 | ADDR_PIPE << 6),
                                  1};
    unsigned count = 0;
    for (const PciDumpFunction& f : functions) {
        if (++count > kMaxFunctions) break;
        bytes.push_back(kRawShape);
        bytes.push_back(f.bus);
        bytes.push_back(f.devFn);
        bytes.insert(bytes.end(), f.config, f.config + 256);
    }
    return bytes;
}

}  // namespace fuzz

#endif
