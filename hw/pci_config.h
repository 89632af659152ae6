// PCI configuration access through configuration mechanism #1:
// one whole dword of one function's configuration space per call.
#ifndef LUMBREL_HW_PCI_CONFIG_H
#define LUMBREL_HW_PCI_CONFIG_H

#include <cstdint>

const uint16_t kPciConfigAddressPort = 0xCF8;
const uint16_t kPciConfigDataPort = 0xCFC;

// The address written to 0xCF8: enable bit, bus, device/function byte and
// the dword-aligned register offset. Only the low 8 bits of bus and devFn
// and bits 7-2 of reg are used, so offsets past 0xFF wrap within the function.
inline uint32_t PciConfigAddress(uint32_t bus, uint32_t devFn, uint32_t reg)
{
    return 0x80000000u | ((bus & 0xFFu) << 16) | ((devFn & 0xFFu) << 8) | (reg & 0xFCu);
}

uint32_t PciConfigRead(uint32_t bus, uint32_t devFn, uint32_t reg);
void PciConfigWrite(uint32_t bus, uint32_t devFn, uint32_t reg, uint32_t value);

#endif
