#!/bin/bash
# agpvm's AGP lines equal lspci's: for every machine file, what
# `agpvm --machine-info FILE` prints of each AGP capability (location,
# version, Status, Command) must be what `lspci -F FILE -vv` prints.
#   agp_lines_test.sh AGPVM.exe MACHINE.txt...
set -uo pipefail
agpvm="$1"
shift

# "BB:DD.F [cap] AGP version M.m", "BB:DD.F Status: ...", "BB:DD.F Command: ..."
from_lspci() {
    lspci -F "$1" -vv 2>/dev/null | awk '
        /^[0-9a-f][0-9a-f]:[0-9a-f][0-9a-f]\.[0-7] / { fn = $1; agp = 0; next }
        /^\tCapabilities: \[[0-9a-f]+\] AGP version / {
            sub(/^\tCapabilities: /, ""); print fn " " $0; agp = 1; next }
        agp && /^\t\t(Status|Command): / { sub(/^\t\t/, ""); print fn " " $0; next }
        /^\t[^\t]/ { agp = 0 }'
}
from_agpvm() {
    wine "$agpvm" --machine-info "$1" 2>/dev/null | tr -d '\r' | awk '
        /^[0-9a-f][0-9a-f]:[0-9a-f][0-9a-f]\.[0-7] class [0-9a-f]+ AGP capability at / {
            fn = $1; cap = $7; sub(/:$/, "", cap); sub(/^.*: AGP version/, "AGP version")
            print fn " [" cap "] " $0; next }
        /^  (Status|Command): / { sub(/^  /, ""); print fn " " $0 }'
}

failed=0
compared=0
for machine in "$@"; do
    expected="$(from_lspci "$machine")"
    actual="$(from_agpvm "$machine")"
    if [ "$expected" != "$actual" ]; then
        echo "MISMATCH $(basename "$machine"):"
        diff <(echo "$expected") <(echo "$actual") | sed 's/^/  /'
        failed=1
    else
        compared=$((compared + $(grep -c . <<<"$expected")))
        echo "equal $(basename "$machine"): $(grep -c 'AGP version' <<<"$expected") AGP capabilities"
    fi
done
if [ "$compared" = 0 ]; then
    echo "no AGP lines compared at all"
    failed=1
fi
exit "$failed"
