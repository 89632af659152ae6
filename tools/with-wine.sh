#!/bin/bash
# Runs a command with a private 32-bit Wine prefix and, when there is no
# display, a private Xvfb screen. Wine's output is kept quiet.
#   tools/with-wine.sh COMMAND [ARGS...]
# WINEPREFIX defaults to build/wine in the checkout.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$root/build/wine}"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

xvfb_pid=""
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ] || [ "${LUMBREL_XVFB:-}" = 1 ]; then
    for n in $(seq 90 140); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
        if kill -0 "$xvfb_pid" 2>/dev/null; then export DISPLAY=":$n"; break; fi
        xvfb_pid=""
    done
    [ -n "$xvfb_pid" ] || { echo "with-wine: could not start Xvfb" >&2; exit 1; }
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi
# Keep one wineserver for the whole command, so each program starts fast.
wineserver -p >/dev/null 2>&1 || true
# Start Wine's background services now, detached from our output: started
# later by a program under test, they would inherit its output pipe and
# keep it open for the whole session (a test runner would wait on it).
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
"$@"
