#!/bin/bash
# Rebuilds res/lumbrel.ico from its pixel grids in res/icon.txt. Run it after
# editing the grids and commit both files; a native test checks that they
# agree.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
g++ -std=c++17 -O2 -Wall -Wextra -Werror "$root/tools/icon/icongen.cpp" -o "$out/icongen"
"$out/icongen" "$root/res/icon.txt" "$root/res/lumbrel.ico"
echo "wrote res/lumbrel.ico"
