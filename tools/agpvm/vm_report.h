// agpvm's report of a run: the access trace, the summary of counts,
// configuration writes and phases, and the illegal accesses.
#ifndef LUMBREL_AGPVM_VM_REPORT_H
#define LUMBREL_AGPVM_VM_REPORT_H

#include <cstdio>

#include "vm_run.h"
#include "vm_shared.h"

// Every port access kept in the log, in order: op, port, value.
void PrintTrace(const VmShared& vm, FILE* out);

// Counts, emulation speed, each configuration write, the phases marked by
// the scenario, and when the dialog showed.
void PrintSummary(const VmShared& vm, const VmRun& run);

// Reports illegal accesses; true when there were any.
bool ReportIllegal(const VmShared& vm);

#endif
