#!/bin/bash
# Installs what is missing, builds the native and the i686 trees and runs
# every test: the native suite, the program's checks and end-to-end runs
# under Wine, and a short fuzz run.
set -euo pipefail
cd "$(dirname "$0")"
jobs=$(nproc)

tools/setup.sh

cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug
cmake --build build/native -j "$jobs"
ctest --test-dir build/native --output-on-failure -j "$jobs"

cmake -S . -B build/i686 -DCMAKE_BUILD_TYPE=MinSizeRel \
      -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/i686-w64-mingw32.cmake"
cmake --build build/i686 -j "$jobs"
tools/with-wine.sh ctest --test-dir build/i686 --output-on-failure -j "$jobs"
# The main job as a user runs it (run.sh starts its own Wine session).
tests/run/dry_run_test.sh

tools/fuzz.sh "${LUMBREL_FUZZ_SECONDS:-60}"
echo "test.sh: all tests passed"
