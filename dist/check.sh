#!/bin/bash
# Reads the floppy image and the zip of tools/dist.sh back and checks them:
# the image is a 1.44 MB FAT12 floppy (1,474,560 bytes) labelled LUMBREL;
# each holds exactly LUMBREL.EXE and README.TXT, byte for byte the build's
# lumbrel.exe and the README given; and README.TXT is plain ASCII with CR LF
# line ends, at most 78 characters a line, names version 1.0 and explains
# every message the program shows (each text as the program's source has
# it, on one line).
#   dist/check.sh ZIP IMAGE LUMBREL_EXE README_TXT
set -uo pipefail
if [ $# -ne 4 ]; then
    echo "usage: dist/check.sh ZIP IMAGE LUMBREL_EXE README_TXT" >&2
    exit 2
fi
zip="$1" img="$2" exe="$3" readme="$4"
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}
# same WHAT FILE EXPECTED
same() { cmp -s "$2" "$3" || fail "$1 differs from $3"; }

# ---- the floppy image ---------------------------------------------------------
[ "$(stat -c %s "$img" 2>/dev/null)" = 1474560 ] || fail "$img is not 1,474,560 bytes"
info="$(minfo -i "$img" :: 2>&1)" || fail "minfo cannot read $img"
grep -q '^disk type="FAT12 *"$' <<<"$info" || fail "$img: not FAT12"
grep -q '^sector size: 512 bytes$' <<<"$info" || fail "$img: sectors are not 512 bytes"
grep -q '^small size: 2880 sectors$' <<<"$info" || fail "$img: not 2880 sectors"
label="$(mlabel -s -i "$img" :: 2>&1)"
[[ "$label" =~ ^\ Volume\ label\ is\ LUMBREL\ *$ ]] || fail "$img: volume label: $label"
files="$(mdir -b -i "$img" :: 2>&1 | sort | tr '\n' ' ')"
[ "$files" = "::/LUMBREL.EXE ::/README.TXT " ] || fail "$img holds: $files"
for name in LUMBREL.EXE README.TXT; do
    mcopy -n -i "$img" "::$name" "$work/img-$name" 2>/dev/null || fail "$img: cannot read $name"
done
same "LUMBREL.EXE on the floppy" "$work/img-LUMBREL.EXE" "$exe"
same "README.TXT on the floppy" "$work/img-README.TXT" "$readme"

# ---- the zip ------------------------------------------------------------------
files="$(unzip -Z1 "$zip" 2>&1 | sort | tr '\n' ' ')"
[ "$files" = "LUMBREL.EXE README.TXT " ] || fail "$zip holds: $files"
unzip -tq "$zip" >/dev/null 2>&1 || fail "$zip: the archive test fails"
for name in LUMBREL.EXE README.TXT; do
    unzip -p "$zip" "$name" >"$work/zip-$name" 2>/dev/null || fail "$zip: cannot read $name"
done
same "LUMBREL.EXE in the zip" "$work/zip-LUMBREL.EXE" "$exe"
same "README.TXT in the zip" "$work/zip-README.TXT" "$readme"

# ---- README.TXT's rules -------------------------------------------------------
bad="$(LC_ALL=C grep -n '[^ -~'$'\r'']' "$readme" | cut -d: -f1 | head -3 | tr '\n' ' ')"
[ -z "$bad" ] || fail "README.TXT: not plain printable ASCII at line(s) $bad"
[ "$(tail -c 2 "$readme" | od -An -tx1 | tr -d ' ')" = 0d0a ] || fail "README.TXT: does not end with CR LF"
# Each line ends with CR LF, and holds no other CR.
bare="$(LC_ALL=C awk '!/\r$/ || index(substr($0, 1, length($0) - 1), "\r") { print NR }' "$readme" |
        head -3 | tr '\n' ' ')"
[ -z "$bare" ] || fail "README.TXT: not ended by CR LF, or a CR inside, at line(s) $bare"
long="$(LC_ALL=C awk '{ sub(/\r$/, "") } length($0) > 78 { print NR }' "$readme" | tr '\n' ' ')"
[ -z "$long" ] || fail "README.TXT: longer than 78 characters at line(s) $long"
grep -q 'version 1\.0' "$readme" || fail "README.TXT: does not name version 1.0"

# Every message text of the program, as its source gives it.
messages="$(sed -n 's/.*Message("\(.*\)\\n");.*/\1/p' "$root/ui/agpmode_dlg.cpp"
            sed -n 's/^const char kFrameHelpFailedText\[\] = "\(.*\)";$/\1/p' "$root/frame/app.cpp")"
[ "$(wc -l <<<"$messages")" -ge 6 ] || fail "the program's messages not found in its source"
while IFS= read -r text; do
    grep -qF "\"$text\"" "$readme" || fail "README.TXT does not explain \"$text\""
done <<<"$messages"

if [ "$failed" = 0 ]; then
    echo "dist check: $zip and $img hold LUMBREL.EXE and README.TXT as built; README.TXT keeps its rules"
fi
exit "$failed"
