#!/bin/bash
# The main job: runs lumbrel.exe in agpvm, the virtual AGP machine, under
# Wine. Installs what is missing and builds the i686 tree first.
#   ./run.sh              the built-in machine (a classic AGP 2x system)
#   ./run.sh DUMP.txt     your own machine: the output of `lspci -xxx`
# With a usable display the real window opens and the access summary is
# printed when you close it. Without one the program runs on a private
# X server inside a Wine virtual desktop: build/lumbrel.png is saved, the
# status sentences and the access summary are printed, and the program is
# closed.
set -euo pipefail
cd "$(dirname "$0")"
root="$PWD"

machine=()
if [ $# -gt 1 ]; then
    echo "usage: $0 [lspci-dump.txt]" >&2
    exit 2
fi
if [ $# -eq 1 ]; then
    if [ ! -r "$1" ]; then
        echo "run.sh: cannot read $1" >&2
        exit 2
    fi
    machine=("$(cd "$(dirname "$1")" && pwd)/$(basename "$1")")
fi

tools/setup.sh
if [ ! -f build/i686/CMakeCache.txt ]; then
    cmake -S . -B build/i686 -DCMAKE_BUILD_TYPE=Release \
          -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" >/dev/null
fi
cmake --build build/i686 -j "$(nproc)" --target lumbrel agpvm agpvm_handler >/dev/null

display_usable() {
    [ -n "${DISPLAY:-}" ] &&
        timeout 10 import -display "$DISPLAY" -window root -crop 1x1+0+0 png:/dev/null \
            >/dev/null 2>&1
}

agpvm=(wine "$root/build/i686/agpvm.exe")
program=(-- "$root/build/i686/lumbrel.exe")

if display_usable; then
    # The real window on your display; agpvm waits up to an hour for you.
    exec tools/with-wine.sh "${agpvm[@]}" --no-desktop --timeout 3600 --summary \
        "${machine[@]}" "${program[@]}"
fi

# No display: a private Xvfb (tools/with-wine.sh starts one), the program in
# agpvm's 640x480 Wine virtual desktop, a screenshot while the dialog shows.
ready="$root/build/run-ready"
shot_done="$root/build/run-shot-done"
scenario="$root/build/run-show.scn"
rm -f "$ready" "$shot_done" build/lumbrel.png
cat > "$scenario" <<SCN
# Written by run.sh: show the dialog, wait for the screenshot, close.
show-dialog
print-text 1014
print-text 1015
print-text 1013
print-text 1016
signal "$ready"
wait-file "$shot_done"
key esc
expect-exit
SCN

export LUMBREL_XVFB=1
status=0
tools/with-wine.sh bash -c '
    set -u
    "$@" &
    vm=$!
    for _ in $(seq 300); do
        [ -e "'"$ready"'" ] && break
        kill -0 "$vm" 2>/dev/null || break
        sleep 0.1
    done
    if [ -e "'"$ready"'" ]; then
        import -display "$DISPLAY" -window root -crop 640x480+0+0 +repage \
            "'"$root"'/build/lumbrel.png" || echo "run.sh: screenshot failed" >&2
    fi
    touch "'"$shot_done"'"
    wait "$vm"
' run "${agpvm[@]}" --timeout 120 --summary --scenario "$scenario" "${machine[@]}" "${program[@]}" \
    || status=$?
rm -f "$ready" "$shot_done"
[ -f build/lumbrel.png ] && echo "run.sh: screenshot saved as build/lumbrel.png"
exit $status
