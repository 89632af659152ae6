// The two parties of the AGP link as lumbrel's start-up finds them: the
// hardware core's own discovery (chipset, then adapter), run against a
// private copy of a machine, so that nothing of the program's run is
// counted or changed.
#ifndef LUMBREL_AGPVM_LINK_PARTIES_H
#define LUMBREL_AGPVM_LINK_PARTIES_H

#include "hw/agp.h"
#include "pci_machine.h"

struct LinkParties {
    bool chipsetFound = false;
    bool adapterFound = false;  // looked for only when the chipset was found
    AgpCapability chipset = {};
    AgpCapability adapter = {};
};

LinkParties FindLinkParties(const PciMachine& machine);

#endif
