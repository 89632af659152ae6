#!/bin/bash
# Builds the libFuzzer targets with clang++ (AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz and runs them for SECONDS
# seconds in all, shared between them: fuzz_agp (random machines driven
# like the dialog drives the hardware core) over build/fuzz/corpus and
# fuzz_dump (text read as a dump) over build/fuzz/corpus-dump, both seeded
# from tests/machines. With a TARGET (agp or dump) only that one runs, for
# all the time. Exits non-zero on any finding; the input that caused it
# lands in build/fuzz/artifacts/. Safe to run again: the corpora are kept
# and grow.
#   tools/fuzz.sh SECONDS [TARGET]
# LUMBREL_FUZZ_SEED chooses libFuzzer's random seed (default 1).
set -euo pipefail
seconds="${1:-}"
only="${2:-}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ] || ! [[ "$only" =~ ^(|agp|dump)$ ]]; then
    echo "usage: tools/fuzz.sh SECONDS [agp|dump]" >&2
    exit 2
fi
command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ is missing (tools/setup.sh installs it)" >&2; exit 1; }

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/fuzz"
flags="-g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all"
flags="$flags -fsanitize=fuzzer-no-link"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DLUMBREL_FUZZ=ON -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_agp fuzz_agp_seeds fuzz_dump fuzz_dump_seeds

mkdir -p "$build/corpus" "$build/seeds" "$build/corpus-dump" "$build/seeds-dump" "$build/artifacts"
"$build/tests/fuzz/fuzz_agp_seeds" "$build/seeds" "$root"/tests/machines/*.txt
"$build/tests/fuzz/fuzz_dump_seeds" "$build/seeds-dump" "$root"/tests/machines/*.txt

case "$only" in
    agp) agp_seconds=$seconds; dump_seconds=0 ;;
    dump) agp_seconds=0; dump_seconds=$seconds ;;
    *) agp_seconds=$(( (seconds + 1) / 2 )); dump_seconds=$(( seconds / 2 > 0 ? seconds / 2 : 1 )) ;;
esac

# fuzz_agp: every input is at most a few dozen functions: 4 KiB holds 15
# raw ones. One input takes milliseconds; 10 s means a hang.
if [ "$agp_seconds" -gt 0 ]; then
    echo "fuzz.sh: fuzz_agp for $agp_seconds s"
    "$build/tests/fuzz/fuzz_agp" -max_total_time="$agp_seconds" -timeout=10 -max_len=4096 \
        -seed="${LUMBREL_FUZZ_SEED:-1}" -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/agp-" "$build/corpus" "$build/seeds"
fi

# fuzz_dump: the seeds are machine files of up to 16 KiB in their posted
# forms; 64 KiB leaves room for longer texts.
if [ "$dump_seconds" -gt 0 ]; then
    echo "fuzz.sh: fuzz_dump for $dump_seconds s"
    "$build/tests/fuzz/fuzz_dump" -max_total_time="$dump_seconds" -timeout=10 -max_len=65536 \
        -seed="${LUMBREL_FUZZ_SEED:-1}" -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/dump-" "$build/corpus-dump" "$build/seeds-dump"
fi
echo "fuzz.sh: no findings"
