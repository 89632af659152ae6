#!/bin/bash
# Figures of lumbrel in agpvm (a report, not a test):
#  - for each machine in tests/machines: configuration reads and writes at
#    start-up and for one "Set Mode", beside the numbers that the scan rules
#    give for that machine (worked out here from the dump alone, in awk);
#    they must be equal, or the script fails;
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
# Prints "startup_reads startup_writes setmode_reads setmode_writes outcome".
expected_counts() {
    awk '
    function hex(s,    i, v) {
        v = 0; s = tolower(s)
        for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
        return v
    }
    function bit(v, n) { return int(v / 2 ^ n) % 2 }
    # One configuration read, counted; absent functions read all ones.
    function rd(bus, df, reg,    k, r, v, i) {
        reads++
        k = bus ":" df
        if (!(k in present)) return 4294967295
        r = int(reg / 4) * 4 % 256
        v = 0
        for (i = 3; i >= 0; i--) v = v * 256 + cfg[k, r + i]
        return v
    }
    # Follows a capability list from pointer p; at most 64 headers.
    # Sets wcap to the AGP capability offset; returns 1 when found.
    function walk(bus, df, p,    h, n) {
        h = rd(bus, df, p)
        for (n = 1; h % 256 != 2; n++) {
            p = int(h / 256) % 256
            if (p == 0 || n >= 64) return 0
            h = rd(bus, df, p)
        }
        wcap = p
        return 1
    }
    # The bus scan; class 0x0300 for the adapter, 0x0600 for the chipset.
    function find(cls,    bus, dev, fn, df, id, ptr) {
        for (bus = 0; bus < 256; bus++)
            for (dev = 0; dev < 32; dev++)
                for (fn = 0; fn < 8; fn++) {
                    df = dev * 8 + fn
                    id = rd(bus, df, 0)
                    if (id == 4294967295 || id == 0) break
                    if (!bit(rd(bus, df, 4), 20)) continue
                    ptr = rd(bus, df, 52) % 256
                    if (!walk(bus, df, ptr)) break
                    if (int(rd(bus, df, 8) / 65536) == cls) { fbus = bus; fdf = df; return 1 }
                }
        return 0
    }
    # The capability read: scan, pointer, walk, status and command.
    function readcap(cls) {
        if (!find(cls)) return 0
        if (!walk(fbus, fdf, rd(fbus, fdf, 52) % 256)) return 0
        rd(fbus, fdf, wcap + 4); rd(fbus, fdf, wcap + 8)
        return 1
    }
    /^#/ { next }
    $1 ~ /^[0-9a-fA-F][0-9a-fA-F]:[0-9a-fA-F][0-9a-fA-F]\.[0-7]$/ ||
    $1 ~ /^[0-9a-fA-F][0-9a-fA-F][0-9a-fA-F][0-9a-fA-F]:[0-9a-fA-F][0-9a-fA-F]:[0-9a-fA-F][0-9a-fA-F]\.[0-7]$/ {
        n = split($1, parts, ":")
        domain = (n == 3) ? hex(parts[1]) : 0
        bus = hex(parts[n - 1]); split(parts[n], df_, "."); df = hex(df_[1]) * 8 + df_[2]
        key = (domain == 0) ? bus ":" df : ""
        if (key != "") present[key] = 1
        next
    }
    $1 ~ /^[0-9a-fA-F][0-9a-fA-F]:$/ {
        if (key == "") next
        off = hex(substr($1, 1, 2))
        for (i = 2; i <= NF; i++) cfg[key, off + i - 2] = hex($i)
        next
    }
    END {
        reads = 0; valid = 0
        if (!readcap(1536)) outcome = "no chipset"
        else { cbus = fbus; cdf = fdf
            if (!readcap(768)) outcome = "no adapter"
            else {
                id = rd(cbus, cdf, 0)
                if (id % 65536 == 23063 && (int(id / 65536) == 15505 || int(id / 65536) == 15507) &&
                    !bit(rd(cbus, cdf, 172), 0)) outcome = "AGP not valid"
                else { readcap(1536); readcap(768); valid = 1; outcome = "valid" }
            }
        }
        startup = reads; reads = 0
        if (valid) { readcap(1536); readcap(768) }
        printf "%d 0 %d %d %s\n", startup, reads, valid ? 2 : 0, outcome
    }' "$1"
}

# ---- the runs ------------------------------------------------------------------
if [ "${LUMBREL_REPORT_INNER:-}" != 1 ]; then
    "$root/tools/setup.sh"
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=MinSizeRel \
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
printf '%-26s %-15s %-15s %-15s %-15s %-14s %s\n' machine "start-up r/w" "rules r/w" \
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
    printf '%-26s %-15s %-15s %-15s %-15s %-14s %s%s\n' "$name" "$sr/$sw" "$exp_sr/$exp_sw" \
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
