#!/bin/bash
# Installs what is missing, builds the native tree (Debug) and the i686 tree
# (Release, the type users build) and runs every test: the native suite, the
# program's checks and end-to-end runs under Wine, the floppy image and zip
# read back, and a short fuzz run. Then builds every other build type once,
# without running its tests again: Debug, Release, RelWithDebInfo and
# MinSizeRel in both trees with gcc, and in the native tree with clang.
set -euo pipefail
cd "$(dirname "$0")"
root="$PWD"
jobs=$(nproc)
toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake")

tools/setup.sh

cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug
cmake --build build/native -j "$jobs"
ctest --test-dir build/native --output-on-failure -j "$jobs"

cmake -S . -B build/i686 -DCMAKE_BUILD_TYPE=Release "${toolchain[@]}"
cmake --build build/i686 -j "$jobs"
tools/with-wine.sh ctest --test-dir build/i686 --output-on-failure -j "$jobs"
# The main job as a user runs it (run.sh starts its own Wine session).
tests/run/dry_run_test.sh

tools/dist.sh
dist/check.sh build/dist/lumbrel-1.0.zip build/dist/lumbrel-1.0.img \
    build/i686/lumbrel.exe dist/README.TXT

tools/fuzz.sh "${LUMBREL_FUZZ_SECONDS:-60}"

# build_type TREE TYPE [cmake options]: builds everything of TREE as TYPE in
# build/TREE-TYPE (warnings are errors there as everywhere); the build's
# output goes to build/TREE-TYPE.log and is shown when it fails.
build_type() {
    local tree="$1" type="$2"
    shift 2
    local dir="build/$tree-$type"
    echo "test.sh: building $tree as $type"
    if ! { cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$type" "$@" &&
           cmake --build "$dir" -j "$jobs"; } >"$dir.log" 2>&1; then
        tail -n 60 "$dir.log"
        echo "test.sh: the $type build of $tree failed (log: $dir.log)" >&2
        exit 1
    fi
}
for type in Release RelWithDebInfo MinSizeRel; do build_type native "$type"; done
for type in Debug RelWithDebInfo MinSizeRel; do build_type i686 "$type" "${toolchain[@]}"; done
for type in Debug Release RelWithDebInfo MinSizeRel; do
    build_type native-clang "$type" -DCMAKE_CXX_COMPILER=clang++
done
echo "test.sh: all tests passed"
