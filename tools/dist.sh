#!/bin/bash
# Builds the Release image of lumbrel.exe (in build/i686) and packs it with
# dist/README.TXT for carrying over to a Windows 9x machine:
#   build/dist/lumbrel-1.0.zip  LUMBREL.EXE and README.TXT
#   build/dist/lumbrel-1.0.img  a 1.44 MB FAT12 floppy image (1,474,560
#                               bytes), volume label LUMBREL, the same two
# Installs what is missing first (mtools, zip). Safe to run again.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/i686"
out="$root/build/dist"
zip="$out/lumbrel-1.0.zip"
img="$out/lumbrel-1.0.img"

"$root/tools/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" >/dev/null
cmake --build "$build" -j "$(nproc)" --target lumbrel >/dev/null

# The two files under the names they have on the disk (8.3, upper case).
stage="$out/stage"
rm -rf "$stage" "$zip" "$img"
mkdir -p "$stage"
cp "$build/lumbrel.exe" "$stage/LUMBREL.EXE"
cp "$root/dist/README.TXT" "$stage/README.TXT"

(cd "$stage" && zip -q -X "$zip" LUMBREL.EXE README.TXT)

export MTOOLS_NO_VFAT=1  # short names only, as DOS and every Windows read them
mformat -i "$img" -C -f 1440 -v LUMBREL ::
mcopy -i "$img" -m "$stage/LUMBREL.EXE" "$stage/README.TXT" ::
rm -rf "$stage"

echo "dist: $zip ($(stat -c %s "$zip") bytes)"
echo "dist: $img ($(stat -c %s "$img") bytes; LUMBREL.EXE $(stat -c %s "$build/lumbrel.exe") bytes)"
