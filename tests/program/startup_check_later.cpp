// The second file of startup_check: its static objects are constructed
// first, since the start-up runs the files' constructors from the last
// linked to the first, as the C runtime of mingw-w64 does.
#include "startup_check.h"

namespace {

Traced later1("later 1");
Traced later2("later 2");

}  // namespace
