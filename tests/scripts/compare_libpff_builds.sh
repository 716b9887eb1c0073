#!/usr/bin/env bash
# Our patched libpff must read every mailbox exactly as the system's does:
# korvel-probe of one build against korvel-probe of the other, over the
# samples and over mailboxes our writer makes (one folder large enough for
# the patched tree paths, items over many folders, and damaged copies), for
# the tree, the list of every folder and the export of listed items.
# usage: compare_libpff_builds.sh PROBE OTHER_PROBE MKPST SEEDS_DIR SAMPLES_DIR
set -euo pipefail
probe=$1 other=$2 mkpst=$3 seeds=$4 samples=$5
for tool in "$probe" "$other" "$mkpst"; do
    if [ ! -x "$tool" ]; then
        echo "missing $tool: build both trees first" >&2
        exit 77
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Each probe's export empties its working directory under TMPDIR.
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR"

files=()
for sample in "$samples"/*.pst "$samples"/*.ost; do
    [ -f "$sample" ] && files+=("$sample")
done
for json in "$seeds"/*.json; do
    "$mkpst" "$json" "$work/$(basename "$json" .json).pst"
    files+=("$work/$(basename "$json" .json).pst")
done
# 3,000 messages in one folder: the item tree is built by appending, and the
# list fetches children in order.
cat > "$work/wide.json" <<'JSON'
{"folders": [{"name": "Wide", "messages": [{"subject": "Message {n}", "body": "Body {n}",
 "properties": [{"tag": "0x0C1A", "type": "PT_UNICODE", "value": "Ann Smith"},
                {"tag": "0x0E06", "type": "PT_SYSTIME", "value": "2011-03-07T14:05:09Z"}],
 "repeat": 3000}]}, {"name": "After", "messages": [{"subject": "Last", "repeat": 2}]}]}
JSON
"$mkpst" "$work/wide.json" "$work/wide.pst"
files+=("$work/wide.pst")
# Damaged copies: cut short, and pages overwritten in the middle.
size=$(stat -c %s "$work/wide.pst")
head -c $((size * 3 / 5)) "$work/wide.pst" > "$work/wide-cut.pst"
cp "$work/wide.pst" "$work/wide-holes.pst"
for part in 3 5 7; do
    head -c 512 /dev/zero | dd of="$work/wide-holes.pst" bs=1 seek=$((size * part / 10)) \
        conv=notrunc status=none
done
files+=("$work/wide-cut.pst" "$work/wide-holes.pst")
# Attachments of several data blocks, three of the blocks damaged: a footer
# size other than the index's, a wrong checksum, zeros in the data.
cat > "$work/attached.json" <<'JSON'
{"folders": [{"name": "Attached", "messages": [{"subject": "Message {n}", "repeat": 4,
 "attachments": [{"filename": "a.bin", "pattern": {"size": 40000, "seed": 5}}]}]}]}
JSON
"$mkpst" "$work/attached.json" "$work/attached.pst"
python3 - "$work/attached.pst" <<'PY'
import struct, sys, zlib
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
# Full blocks (8,176 bytes and a 16-byte footer) whose stored checksum holds.
footers = [end - 16 for end in range(8192, len(data) + 1, 64)
           if struct.unpack_from('<H', data, end - 16)[0] == 8176
           and zlib.crc32(data[end - 8192:end - 16], 0xFFFFFFFF) ^ 0xFFFFFFFF
           == struct.unpack_from('<I', data, end - 12)[0]]
if len(footers) < 12:
    sys.exit('too few data blocks found: %d' % len(footers))
struct.pack_into('<H', data, footers[1], 8000)
data[footers[5] + 4] ^= 1
data[footers[9] - 4000:footers[9] - 3936] = bytes(64)
open(path, 'wb').write(data)
PY
files+=("$work/attached.pst")
# Messages spread over folders and sub folders, each item's parent found
# while the item tree is built; and a copy whose descriptor index gives two
# messages the identifiers of folders, one before the folder in tree order,
# one after it: the items of such a folder go under the first node in tree
# order holding its identifier.
python3 - "$work/spread.json" <<'PY'
import json, sys
json.dump({"folders": [{"name": "F%d" % f,
    "messages": [{"subject": "F%d message {n}" % f, "repeat": 40}],
    "folders": [{"name": "F%d sub" % f, "messages": [{"subject": "sub {n}", "repeat": 20}]}]}
    for f in range(6)]}, open(sys.argv[1], "w"))
PY
"$mkpst" "$work/spread.json" "$work/spread.pst"
cp "$work/spread.pst" "$work/spread-twice.pst"
python3 - "$work/spread-twice.pst" <<'PY'
import struct, sys, zlib
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
def page_crc(ib):
    return zlib.crc32(bytes(data[ib:ib + 496]), 0xFFFFFFFF) ^ 0xFFFFFFFF
entries = []  # (page, entry offset, identifier, parent) of every leaf entry
def walk(ib):
    if page_crc(ib) != struct.unpack_from('<I', data, ib + 500)[0]:
        sys.exit('descriptor index page at %d does not check' % ib)
    count, size, level = data[ib + 488], data[ib + 490], data[ib + 491]
    for at in range(ib, ib + count * size, size):
        if level > 0:
            walk(struct.unpack_from('<Q', data, at + 16)[0])
        else:
            entries.append((ib, at, struct.unpack_from('<Q', data, at)[0],
                            struct.unpack_from('<I', data, at + 24)[0]))
walk(struct.unpack_from('<Q', data, 0xD8 + 8)[0])
folders = [e[2] for e in entries if e[2] & 0x1F == 2 and e[2] != e[3]]
if len(folders) != 12:
    sys.exit('expected 12 folders, found %d' % len(folders))
for owner, taken in ((folders[0], folders[10]), (folders[8], folders[2])):
    page, at = next(e[:2] for e in entries if e[2] & 0x1F == 4 and e[3] == owner)
    struct.pack_into('<Q', data, at, taken)
    struct.pack_into('<I', data, page + 500, page_crc(page))
open(path, 'wb').write(data)
PY
files+=("$work/spread.pst" "$work/spread-twice.pst")
# Their folders repeat one message: the ends and the middle of each say as
# much as every item, which would be most of this script's time.
declare -A repeated=(["$work/spread.pst"]=1 ["$work/spread-twice.pst"]=1)

failures=0
compare() { # ARGS...: both probes' output and exit status must agree
    local a b status_a=0 status_b=0
    a=$("$probe" "$@" 2>/dev/null) || status_a=$?
    b=$("$other" "$@" 2>/dev/null) || status_b=$?
    if [ "$a" != "$b" ] || [ "$status_a" != "$status_b" ]; then
        echo "korvel-probe $* differs between the builds (exit $status_a, $status_b):" >&2
        diff <(printf '%s\n' "$a") <(printf '%s\n' "$b") | head -20 >&2 || true
        failures=$((failures + 1))
    fi
}

checked=0
for file in "${files[@]}"; do
    compare tree "$file"
    compare list "$file"
    # Folder paths from the tree's levels: level 0 is the file itself. The
    # paths and rows come from the other probe, the faster one where this
    # build runs under a sanitizer; both have just been compared.
    mapfile -t folders < <("$other" tree "$file" 2>/dev/null | awk -F'\t' '
        $1 == "item" && $2 > 0 {
            name[$2] = $5; path = name[1]
            for (i = 2; i <= $2; i++) path = path "/" name[i]
            print path
        }')
    for folder in "${folders[@]}"; do
        compare list "$file" "$folder"
        mapfile -t rows < <("$other" list "$file" "$folder" 2>/dev/null | awk -F'\t' '$1 == "row" { print $2 }')
        count=${#rows[@]}
        [ "$count" -gt 0 ] || continue
        # Every item of a small folder; the ends and the middle of a big one
        # or of one that repeats a message.
        if [ "$count" -le 60 ] && [ -z "${repeated[$file]:-}" ]; then
            picks=("${rows[@]}")
        else
            picks=("${rows[0]}" "${rows[$((count / 2))]}" "${rows[$((count - 1))]}")
        fi
        for n in "${picks[@]}"; do
            compare export "$file" "$folder" "$n"
            checked=$((checked + 1))
        done
    done
done

if [ "$failures" -gt 0 ]; then
    echo "$failures probe runs differ between the libpff builds" >&2
    exit 1
fi
echo "${#files[@]} mailboxes, $checked exported items: both libpff builds agree"
