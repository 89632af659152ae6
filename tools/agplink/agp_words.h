// The AGP capability in the words of `lspci -vv` (pciutils 3.9): the
// "AGP version M.m" text and what it prints after "Status: " and after
// "Command: ". Plain functions of the register values, no hardware access.
#ifndef LUMBREL_AGPLINK_AGP_WORDS_H
#define LUMBREL_AGPLINK_AGP_WORDS_H

#include <cstdint>
#include <string>

// AGP 3.0 mode: capability major version 3 or later and status bit 3 set.
// In that mode rate bits 0, 1, 2 of status and command mean x4, x8 and
// x16 (lspci's word; for AGP 3.0 bit 2 is reserved); otherwise x1, x2, x4.
bool IsAgp3Mode(unsigned major, uint32_t status);

// "x1,x4", "x8" or "<none>" for bits 2-0 of a status or command value.
std::string AgpRateWords(uint32_t rateBits, bool agp3Mode);

// "AGP version 2.0": both numbers as one hex digit each (a.b for 0xab).
std::string AgpVersionWords(unsigned major, unsigned minor);

// e.g. "RQ=32 Iso- ArqSz=0 Cal=0 SBA+ ITACoh- GART64- HTrans- 64bit- FW- AGP3- Rate=x1,x2"
std::string AgpStatusWords(unsigned major, uint32_t status);

// e.g. "RQ=1 ArqSz=0 Cal=0 SBA- AGP+ GART64- 64bit- FW- Rate=x1". The
// status decides the mode in which the rate bits are named.
std::string AgpCommandWords(unsigned major, uint32_t status, uint32_t command);

#endif
