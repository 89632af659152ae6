#!/bin/bash
# The main job: runs lumbrel.exe in agpvm, the virtual AGP machine, under
# Wine. Installs what is missing and builds the i686 tree first.
#   ./run.sh [DUMP.txt] [--rate 1x|2x] [--addressing pipe|sba]
# DUMP.txt is your own machine, the output of `lspci -xxx` (as root);
# without it, the built-in machine (a classic AGP 2x system).
#
# Without --rate/--addressing: with a usable display the real window opens
# and the virtual machine's report is printed when you close it; without
# one the program runs on a private X server inside a Wine virtual desktop,
# build/lumbrel.png is saved, and what lumbrel shows is printed.
#
# With --rate and/or --addressing, a dry run: run.sh clicks those choices
# and "Set Mode" itself, and prints what lumbrel shows before and after,
# each configuration write decoded as lspci decodes it, and whether the AGP
# link it leaves is consistent. Screenshots: build/lumbrel.png (before),
# build/lumbrel-after.png (after).
#
# Exit status: 0 when the run went through, whatever lumbrel said; 2 bad
# usage or a dump that cannot be read; any other non-zero status: the
# virtual machine or the build failed (agpvm's status, see
# tools/agpvm/README.md).
set -euo pipefail
cd "$(dirname "$0")"
root="$PWD"

usage() {
    echo "usage: $0 [lspci-dump.txt] [--rate 1x|2x] [--addressing pipe|sba]" >&2
    [ -z "${1:-}" ] || echo "run.sh: $1" >&2
    exit 2
}

dump=""
rate=""
addressing=""
while [ $# -gt 0 ]; do
    case "$1" in
        --rate)
            [ $# -ge 2 ] || usage "--rate needs 1x or 2x"
            case "$2" in 1x|2x) rate="$2" ;; *) usage "--rate is 1x or 2x, not '$2'" ;; esac
            shift 2 ;;
        --addressing)
            [ $# -ge 2 ] || usage "--addressing needs pipe or sba"
            case "$2" in pipe|sba) addressing="$2" ;; *) usage "--addressing is pipe or sba, not '$2'" ;; esac
            shift 2 ;;
        -h|--help)
            sed -n '2,22s/^# \{0,1\}//p' "$0"
            exit 0 ;;
        -*) usage "unknown option $1" ;;
        *)
            [ -z "$dump" ] || usage "one dump at most (got '$dump' and '$1')"
            dump="$1"
            shift ;;
    esac
done

machine=()
machine_name="the built-in machine (tests/machines/agp2x-classic.txt)"
if [ -n "$dump" ]; then
    [ -f "$dump" ] || usage "no such file: $dump"
    [ -r "$dump" ] || usage "cannot read $dump"
    machine=("$(cd "$(dirname "$dump")" && pwd)/$(basename "$dump")")
    machine_name="$dump"
fi

tools/setup.sh
if [ ! -f build/i686/CMakeCache.txt ]; then
    cmake -S . -B build/i686 -DCMAKE_BUILD_TYPE=Release \
          -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" >/dev/null
fi
cmake --build build/i686 -j "$(nproc)" --target lumbrel agpvm agpvm_handler >/dev/null

agpvm=(wine "$root/build/i686/agpvm.exe")
program=(-- "$root/build/i686/lumbrel.exe")

# A dump agpvm cannot read is the caller's problem (exit 2), not the VM's;
# for a dry run the machine's AGP functions head the output.
info="$(tools/with-wine.sh "${agpvm[@]}" --machine-info "${machine[@]}" 2>&1 | tr -d '\r'; exit "${PIPESTATUS[0]}")" \
    || { status=$?; echo "$info" >&2; [ "$status" = 2 ] && exit 2; exit "$status"; }
# Warnings about the dump (damaged rows, functions cut short) are shown always.
grep '^agpvm: warning' <<<"$info" >&2 || true

display_usable() {
    [ -n "${DISPLAY:-}" ] &&
        timeout 10 import -display "$DISPLAY" -window root -crop 1x1+0+0 png:/dev/null \
            >/dev/null 2>&1
}

if [ -z "$rate$addressing" ] && display_usable; then
    # The real window on your display; agpvm waits up to an hour for you.
    exec tools/with-wine.sh "${agpvm[@]}" --no-desktop --timeout 3600 --summary \
        "${machine[@]}" "${program[@]}"
fi

# Headless: a private Xvfb (tools/with-wine.sh starts one), the program in
# agpvm's 640x480 Wine virtual desktop, screenshots at the scenario's
# signals. The scenario prints what lumbrel shows; agpvm's own report goes
# to a file and is shown only when the run fails.
mkdir -p build
work="$(mktemp -d "$root/build/run.XXXXXX")"
trap 'rm -rf "$work"' EXIT
scenario="$work/run.scn"
report="$root/build/agpvm-report.txt"
rm -f build/lumbrel.png build/lumbrel-after.png

shows() {
    cat <<SCN
print "$1, lumbrel shows:"
print-text 1014 "  chipset rate"
print-text 1015 "  chipset SBA"
print-text 1013 "  adapter rate"
print-text 1016 "  adapter SBA"
SCN
}

{
    echo "# Written by run.sh."
    echo "show-dialog"
    if [ -n "$rate$addressing" ]; then
        shows "before Set Mode"
    else
        shows "after start-up"
    fi
    echo 'print-link "at start-up"'
    echo "signal \"$work/shot-lumbrel\""
    echo "wait-file \"$work/shot-lumbrel.done\""
    if [ -n "$rate$addressing" ]; then
        case "$rate" in 1x) echo 'click "1x Rate"' ;; 2x) echo 'click "2x Rate"' ;; esac
        case "$addressing" in pipe) echo 'click "Pipe"' ;; sba) echo 'click "SBA"' ;; esac
        echo 'click "Set Mode"'
        echo 'dismiss-messages'
        echo 'print "configuration writes of Set Mode:"'
        echo 'print-writes'
        shows "after Set Mode"
        echo 'print-link "after Set Mode"'
        echo "signal \"$work/shot-lumbrel-after\""
        echo "wait-file \"$work/shot-lumbrel-after.done\""
    fi
    echo "key esc"
    echo "expect-exit"
} > "$scenario"

choice=""
[ -z "$rate" ] || choice="\"$rate Rate\", "
case "$addressing" in pipe) choice="$choice\"Pipe\", " ;; sba) choice="$choice\"SBA\", " ;; esac
if [ -n "$choice" ]; then
    echo "run.sh: dry run of ${choice}\"Set Mode\" on $machine_name"
else
    echo "run.sh: lumbrel.exe on $machine_name"
fi
# The machine's AGP functions; the verdict at start-up follows from the run.
sed -e '/^agpvm: warning/d' -e '/^AGP link at start-up/,$d' <<<"$info"

export LUMBREL_XVFB=1
status=0
tools/with-wine.sh bash -c '
    set -u
    work="$1"; shift
    "$@" &
    vm=$!
    # Each signal file from the scenario asks for one screenshot.
    while kill -0 "$vm" 2>/dev/null; do
        for shot in "$work"/shot-*; do
            case "$shot" in *.done|*"*") continue ;; esac
            [ -e "$shot.done" ] && continue
            name="$(basename "$shot")"
            import -display "$DISPLAY" -window root -crop 640x480+0+0 +repage \
                "build/${name#shot-}.png" 2>/dev/null || echo "run.sh: screenshot failed" >&2
            touch "$shot.done"
        done
        sleep 0.1
    done
    wait "$vm"
' run "$work" "${agpvm[@]}" --timeout 120 --summary --output "$report" --scenario "$scenario" \
    "${machine[@]}" "${program[@]}" || status=$?

if [ "$status" != 0 ]; then
    cat "$report" >&2
    echo "run.sh: the virtual machine failed (status $status); its report is above and in $report" >&2
    # 2 is kept for the caller's mistakes, checked above.
    [ "$status" = 2 ] && status=1
    exit "$status"
fi
shots=""
for shot in lumbrel lumbrel-after; do
    [ -f "build/$shot.png" ] && shots="$shots build/$shot.png"
done
[ -z "$shots" ] || echo "run.sh: screenshots saved:$shots"
echo "run.sh: the virtual machine's report is in build/agpvm-report.txt"
echo "run.sh: no hardware was touched: lumbrel ran against a simulated machine"
