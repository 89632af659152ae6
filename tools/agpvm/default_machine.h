// The machine agpvm runs when no machine file is given: a classic AGP 2x
// system (host bridge 00:00.0 and adapter 01:00.0, both with SBA), the text
// of tests/machines/agp2x-classic.txt embedded at build time.
#ifndef LUMBREL_AGPVM_DEFAULT_MACHINE_H
#define LUMBREL_AGPVM_DEFAULT_MACHINE_H

extern const char kDefaultMachineText[];

#endif
