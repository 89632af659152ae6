#!/bin/bash
# Figures of lumbrel in agpvm (a report, not a test):
#  - for each machine in tests/machines: configuration reads and writes at
#    start-up and for one "Set Mode", beside the numbers that the scan rules
#    give for that machine (worked out from the dump alone by
#    tools/scan-reads.awk); they must be equal, or the script fails;
#  - emulated port accesses per second, in the program (fast path) and in
#    the debugger (slow path);
#  - time from launch to the dialog shown;
#  - the size of lumbrel.exe.
#   tools/report.sh [BUILD_DIR]      (default build/i686, built if needed)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/i686}"
build="$(mkdir -p "$build" && cd "$build" && pwd)"

# ---- the scan rules, from the dump ------------------------------------------
# Prints "startup_reads startup_writes setmode_reads setmode_writes outcome",
# reckoned by tools/scan-reads.awk (which the end-to-end table uses too).
expected_counts() {
    awk -f "$root/tools/scan-reads.awk" "$1" |
        awk '{ v[$1] = $2 } END { print v["start-up"], 0, v["set-mode"], v["set-mode-writes"], v["outcome"] }'
}

# ---- the runs ------------------------------------------------------------------
if [ "${LUMBREL_REPORT_INNER:-}" != 1 ]; then
    "$root/tools/setup.sh"
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
              -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" >/dev/null
    fi
    cmake --build "$build" -j "$(nproc)" --target lumbrel agpvm agpvm_handler portprobe >/dev/null
    LUMBREL_REPORT_INNER=1 exec "$root/tools/with-wine.sh" "$0" "$build"
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cat > "$work/report.scn" <<'SCN'
# Start-up, then one Set Mode, each counted as a phase.
show-dialog
mark startup
click "Set Mode"
dismiss-messages
print-writes
mark set-mode
key esc
expect-exit
SCN

agpvm=(wine "$build/agpvm.exe" --timeout 120 --summary)
status=0
printf '%-28s %-15s %-15s %-15s %-15s %-14s %s\n' machine "start-up r/w" "rules r/w" \
    "Set Mode r/w" "rules r/w" "dialog shown" "outcome"
for machine in "$root"/tests/machines/*.txt; do
    name="$(basename "$machine")"
    read -r exp_sr exp_sw exp_mr exp_mw outcome < <(expected_counts "$machine")
    out="$("${agpvm[@]}" --scenario "$work/report.scn" "$machine" -- "$build/lumbrel.exe" 2>&1 |
           tr -d '\r'; exit "${PIPESTATUS[0]}")" || {
        echo "$out"
        echo "report: $name: the run failed" >&2
        status=1
        continue
    }
    phase() { sed -n "s/^agpvm: phase $1: configuration reads \([0-9]*\), writes \([0-9]*\).*/\1 \2/p" <<<"$out"; }
    read -r sr sw < <(phase startup)
    read -r mr mw < <(phase set-mode)
    shown="$(sed -n 's/^agpvm: dialog shown \([0-9]*\) ms after launch/\1 ms/p' <<<"$out")"
    mark=""
    if [ "$sr $sw $mr $mw" != "$exp_sr $exp_sw $exp_mr $exp_mw" ]; then
        mark="  MISMATCH"
        status=1
    fi
    printf '%-28s %-15s %-15s %-15s %-15s %-14s %s%s\n' "$name" "$sr/$sw" "$exp_sr/$exp_sw" \
        "$mr/$mw" "$exp_mr/$exp_mw" "$shown" "$outcome" "$mark"
done

echo
empty="$root/tests/machines/empty-bus.txt"
for path in fast slow; do
    opt=()
    [ "$path" = slow ] && opt=(--slow)
    out="$("${agpvm[@]}" "${opt[@]}" "$empty" -- "$build/portprobe.exe" scan 2>&1 | tr -d '\r')"
    read -r count ms < <(sed -n 's/^agpvm: emulation: \([0-9]*\) accesses from the first to the last within \([0-9]*\) ms/\1 \2/p' <<<"$out")
    if [ -n "${count:-}" ]; then
        [ "$ms" -gt 0 ] || ms=1
        echo "emulation, $path path: $count accesses in $ms ms, $((count * 1000 / ms)) per second"
    fi
done
printf 'expect-message lumbrel "AGP chipset is not reporting capabilities!\\n"\nwait-dialog\nkey esc\nexpect-exit\n' \
    > "$work/empty.scn"
start=$(date +%s%N)
"${agpvm[@]}" --scenario "$work/empty.scn" "$empty" -- "$build/lumbrel.exe" >/dev/null 2>&1 || true
echo "empty-bus start-up (16,384 port instructions), agpvm launch to exit: $(( ($(date +%s%N) - start) / 1000000 )) ms"
echo "lumbrel.exe: $(stat -c %s "$build/lumbrel.exe") bytes"
if [ "$status" = 0 ]; then
    echo "report: every count equals the scan rules"
else
    echo "report: counts differ from the scan rules" >&2
fi
exit "$status"
