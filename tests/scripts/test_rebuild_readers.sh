#!/usr/bin/env bash
# The save of a mailbox opened through a rebuilt index reads back in
# independent readers: with the node index's root page zeroed they find what
# they find in the save of the intact sample; with the file cut in half they
# open the copy and find the messages the rebuild listed.
set -euo pipefail
: "${KORVEL_BINARY_DIR:?}" "${KORVEL_SOURCE_DIR:?}" "${KORVEL_SAMPLES_DIR:?}"
probe="$KORVEL_BINARY_DIR/tests/korvel-probe"
work="$KORVEL_BINARY_DIR/scratch/rebuild_readers"
rm -rf "$work"
mkdir -p "$work"
cd "$work"

python3 - "$KORVEL_SAMPLES_DIR/enron.pst" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
open('intact.pst', 'wb').write(data)
root = struct.unpack_from('<Q', data, 0xE0)[0]  # the node index root's offset
rooted = bytearray(data)
rooted[root:root + 512] = bytes(512)
open('root-zeroed.pst', 'wb').write(rooted)
open('cut-half.pst', 'wb').write(data[:len(data) // 2])
PY

readers="$KORVEL_BINARY_DIR/readers"
if [ ! -d "$readers/node_modules/pst-extractor" ]; then
    mkdir -p "$readers"
    npm install --silent --no-audit --no-fund --prefix "$readers" pst-extractor@1.12.0 > /dev/null
fi

# What each reader finds in a file: folders and messages.
counts() {
    local pst="$1" out="$2"
    mkdir -p "$out/readpst"
    pffinfo "$pst" > "$out/pffinfo.txt" 2>&1
    grep -q "Personal Storage Tables" "$out/pffinfo.txt"
    readpst -j 0 -q -D -S -o "$out/readpst" "$pst" > "$out/readpst.txt" 2>&1
    echo "readpst $(find "$out/readpst" -type d | wc -l) $(find "$out/readpst" -type f -regex '.*/[0-9]+' | wc -l)"
    echo "pst-extractor $(NODE_PATH="$readers/node_modules" node "$KORVEL_SOURCE_DIR/tests/readers/walk_pst.js" "$pst" | grep '^TOTAL')"
}

for name in intact root-zeroed cut-half; do
    "$probe" save "$name.pst" "$name-copy.pst" > "$name-save.txt"
    grep -q "^unreadable	0$" "$name-save.txt"
    counts "$name-copy.pst" "$name" > "$name-counts.txt"
done
# The rebuilt mailbox's save says so and reads back as the intact one's.
grep -q "^note	The mailbox's index could not be read" root-zeroed-save.txt
diff intact-counts.txt root-zeroed-counts.txt
# The half file's save holds every item the rebuild listed.
listed=$("$probe" check cut-half.pst | awk -F'\t' '$1 == "items" { print $2 }')
saved=$(awk -F'\t' '$1 == "items" { print $2 }' cut-half-save.txt)
echo "cut in half: $listed items rebuilt, $saved saved"
[ "$saved" -ge "$listed" ]
read -r _ _ found < <(grep '^readpst' cut-half-counts.txt)
[ "$found" -ge "$listed" ]
echo "the rebuilt mailboxes' saves read back"
