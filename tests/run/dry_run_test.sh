#!/bin/bash
# The main job as a user runs it: ./run.sh's dry run on a machine file, its
# screenshots and exit statuses, and its answers to bad usage and dumps.
# Run by ./test.sh after the i686 tree is built.
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$root"
failed=0
fail() { echo "dry run test: FAILED: $*"; failed=1; }

# Runs run.sh; sets out and status.
run() {
    out="$(./run.sh "$@" 2>&1)"
    status=$?
}
expect_line() {  # a line of the output matching the extended regex
    grep -Eq -- "$1" <<<"$out" || fail "no line /$1/ in the output of run.sh $args"
}

args="tests/machines/agp2x-classic.txt --rate 2x --addressing sba"
rm -f build/lumbrel.png build/lumbrel-after.png
run $args
echo "$out"
[ "$status" = 0 ] || fail "run.sh $args exited $status"
# The two writes, adapter first, each decoded old and new.
writes="$(grep -E '^  configuration write ' <<<"$out")"
[ "$writes" = "  configuration write 01:00.0 reg 4c: 1f000101 -> 1f000302
  configuration write 00:00.0 reg a8: 00000101 -> 00000302" ] || fail "writes: $writes"
expect_line '^      new Command: RQ=32 ArqSz=0 Cal=0 SBA\+ AGP\+ GART64- 64bit- FW- Rate=x2$'
expect_line '^      new Command: RQ=1 ArqSz=0 Cal=0 SBA\+ AGP\+ GART64- 64bit- FW- Rate=x2$'
after="$(sed -n '/^after Set Mode, lumbrel shows:/,/^AGP link after/p' <<<"$out")"
for sentence in "AGP chipset has 2x mode set." "AGP chipset has SBA enabled." \
                "Video adapter has 2x mode set." "Video adapter has SBA enabled."; do
    grep -qF "$sentence" <<<"$after" || fail "after Set Mode lacks \"$sentence\""
done
expect_line '^AGP link at start-up: consistent'
expect_line '^AGP link after Set Mode: consistent'
[ "$(tail -n 1 <<<"$out")" = "run.sh: no hardware was touched: lumbrel ran against a simulated machine" ] ||
    fail "the last line does not say that no hardware was touched"
for shot in build/lumbrel.png build/lumbrel-after.png; do
    [ "$(identify -format '%m %wx%h' "$shot" 2>/dev/null)" = "PNG 640x480" ] ||
        fail "$shot is not a 640x480 screenshot"
done

# The same machine as a mail quotes it, after a prompt: the same writes.
{ echo 'On Monday Bob wrote:'; echo '> $ sudo lspci -xxx'; sed 's/^/> /' tests/machines/agp2x-classic.txt; } \
    > build/dry-run-quoted.txt
args="build/dry-run-quoted.txt --rate 2x --addressing sba"
run $args
[ "$status" = 0 ] || fail "run.sh $args exited $status"
[ "$(grep -E '^  configuration write ' <<<"$out")" = "$writes" ] || fail "the quoted dump gives other writes"
grep -q 'warning' <<<"$out" && fail "the quoted dump gives warnings: $out"
rm -f build/dry-run-quoted.txt

# lumbrel's own answer is not a failure of the run.
args="tests/machines/no-common-rate.txt --rate 2x"
run $args
[ "$status" = 0 ] || fail "run.sh $args exited $status"
expect_line '^message: Cannot select a common data rate!$'

# Bad usage and unreadable dumps: status 2 and a message naming the problem.
printf 'ls -l\ntotal 0\n' > build/dry-run-not-a-dump.txt
while IFS='|' read -r expected_message a b c; do
    args="$a $b $c"
    run $a $b $c
    [ "$status" = 2 ] || fail "run.sh $args exited $status, expected 2"
    grep -qF -- "$expected_message" <<<"$out" || fail "run.sh $args: no \"$expected_message\" in: $out"
done <<'CASES'
--rate is 1x or 2x, not '3x'|tests/machines/agp2x-classic.txt|--rate|3x
--addressing is pipe or sba, not 'agp'|--addressing|agp|
unknown option --fast|--fast||
no such file: no-such-dump.txt|no-such-dump.txt||
one dump at most|tests/machines/agp2x-classic.txt|tests/machines/empty-bus.txt|
no PCI function in this text|build/dry-run-not-a-dump.txt||
CASES
rm -f build/dry-run-not-a-dump.txt

[ "$failed" = 0 ] && echo "dry run test: passed"
exit "$failed"
