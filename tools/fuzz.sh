#!/bin/bash
# Builds the libFuzzer target fuzz_agp with clang++ (AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz and runs it for SECONDS seconds
# over the corpus in build/fuzz/corpus, seeded from tests/machines. Exits
# non-zero on any finding; the input that caused it lands in
# build/fuzz/artifacts/. Safe to run again: the corpus is kept and grows.
#   tools/fuzz.sh SECONDS
# LUMBREL_FUZZ_SEED chooses libFuzzer's random seed (default 1).
set -euo pipefail
seconds="${1:-}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
    echo "usage: tools/fuzz.sh SECONDS" >&2
    exit 2
fi
command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ is missing (tools/setup.sh installs it)" >&2; exit 1; }

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/fuzz"
flags="-g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all"
flags="$flags -fsanitize=fuzzer-no-link"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DLUMBREL_FUZZ=ON -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_agp fuzz_agp_seeds

mkdir -p "$build/corpus" "$build/seeds" "$build/artifacts"
"$build/tests/fuzz/fuzz_agp_seeds" "$build/seeds" "$root"/tests/machines/*.txt

# Every input is at most a few dozen functions: 4 KiB holds 15 raw ones.
# One input takes milliseconds; 10 s means a hang.
echo "fuzz.sh: fuzzing for $seconds s"
"$build/tests/fuzz/fuzz_agp" -max_total_time="$seconds" -timeout=10 -max_len=4096 \
    -seed="${LUMBREL_FUZZ_SEED:-1}" -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/" "$build/corpus" "$build/seeds"
echo "fuzz.sh: no findings"
