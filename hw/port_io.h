// The only two routines through which the hardware core reaches I/O ports.
// The program links an implementation that executes the port instructions;
// the tests link a simulated PCI bus in their place.
#ifndef LUMBREL_HW_PORT_IO_H
#define LUMBREL_HW_PORT_IO_H

#include <cstdint>

void PortOut32(uint16_t port, uint32_t value);
uint32_t PortIn32(uint16_t port);

#endif
