# The configuration reads that lumbrel makes on a machine, worked out from
# its `lspci -xxx` dump by the scan rules alone (independent of hw/):
#   awk -f tools/scan-reads.awk MACHINE.txt
# prints one "name value" pair a line:
#   outcome       valid, no-chipset, no-adapter or agp-not-valid
#   chipset-read  reads of the chipset's capability read (scan included)
#   adapter-read  reads of the adapter's one (0 when it is never made)
#   family-test   reads of the 0x5A17-family test (0 when never made,
#                 1 for another chipset, 2 for the family)
#   refresh       reads of the refresh that ends a good start-up (0 if none)
#   start-up      all of the above: the reads up to the dialog shown
#   set-mode      reads of one "Set Mode" (0 when AGP is not valid)
#   set-mode-writes  configuration writes of one "Set Mode"
# Only domain 0 counts. The command registers that "Set Mode" writes play
# no part in a scan, so every "Set Mode" on a machine reads the same.
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
    chipset = 0; adapter = 0; family = 0; refresh = 0
    # Start-up: chipset, then adapter, then the family test, then the refresh.
    found = readcap(1536); chipset = reads
    if (!found) outcome = "no-chipset"
    else { cbus = fbus; cdf = fdf
        found = readcap(768); adapter = reads - chipset
        if (!found) outcome = "no-adapter"
        else {
            mark = reads
            id = rd(cbus, cdf, 0)
            disabled = id % 65536 == 23063 && (int(id / 65536) == 15505 || int(id / 65536) == 15507) &&
                       !bit(rd(cbus, cdf, 172), 0)
            family = reads - mark
            if (disabled) outcome = "agp-not-valid"
            else {
                mark = reads
                readcap(1536); readcap(768)
                refresh = reads - mark
                valid = 1; outcome = "valid"
            }
        }
    }
    startup = reads; reads = 0
    # One "Set Mode": two writes, then the refresh.
    if (valid) { readcap(1536); readcap(768) }
    printf "outcome %s\n", outcome
    printf "chipset-read %d\nadapter-read %d\nfamily-test %d\nrefresh %d\n", chipset, adapter, family, refresh
    printf "start-up %d\nset-mode %d\nset-mode-writes %d\n", startup, reads, valid ? 2 : 0
}
