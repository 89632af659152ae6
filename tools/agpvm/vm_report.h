// agpvm's report of a run: the access trace, the summary of counts,
// configuration writes and phases, and the illegal accesses.
#ifndef LUMBREL_AGPVM_VM_REPORT_H
#define LUMBREL_AGPVM_VM_REPORT_H

#include <cstdio>

#include "vm_run.h"
#include "vm_shared.h"

// Every port access kept in the log, in order: op, port, value.
void PrintTrace(const VmShared& vm, FILE* out);

// Counts of port accesses and configuration cycles, and the emulation speed.
void PrintCounts(const VmShared& vm);

// The phases the scenario marked, and when the dialog showed.
void PrintPhases(const VmRun& run);

// Checks every configuration write against the machine as it was just
// before it (`initial` and the earlier writes): each must land on the
// command register of an AGP capability of its function. A write that
// does not is reported as a failure; true when there was one. With
// `print`, also each write decoded, and the verdict on the AGP link at
// start-up and after each Set Mode (writes with no read between them).
bool ReportConfigWrites(const VmShared& vm, const PciMachine& initial, bool print);

// Reports illegal accesses; true when there were any.
bool ReportIllegal(const VmShared& vm);

#endif
