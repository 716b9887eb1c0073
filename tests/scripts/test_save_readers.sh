#!/usr/bin/env bash
# The copy a save writes opens in independent readers with the same folders
# and messages as its source: pffinfo, pffexport, readpst and pst-extractor,
# for the sample mailbox and a writer-made one.
set -euo pipefail
: "${KORVEL_BINARY_DIR:?}" "${KORVEL_SOURCE_DIR:?}" "${KORVEL_SAMPLES_DIR:?}"
work="$KORVEL_BINARY_DIR/scratch/save_readers"
rm -rf "$work"
mkdir -p "$work"
cd "$work"

cat > mailbox.json <<'JSON'
{
  "top_of_personal_folders": true,
  "top": {"folders": [
    {"name": "Inbox", "messages": [
      {"subject": "Inbox message {n}", "body": "Body text", "html": "<p>html</p>",
       "rtf": "{\\rtf1\\ansi Hello}", "repeat": 30,
       "properties": [{"tag": "0x0E07", "type": "PT_LONG", "value": 1},
                      {"tag": "0x3FFD", "type": "PT_LONG", "value": 1252},
                      {"tag": "0x0C1A", "type": "PT_STRING8", "hex": "52656ee9"},
                      {"named": {"set": "PS_PUBLIC_STRINGS", "name": "Keywords"}, "type": "PT_MV_UNICODE", "value": ["a", "b"]}],
       "recipients": [{"type": 1, "name": "Bob", "email": "bob@example.com"}],
       "attachments": [{"filename": "a.txt", "data": "attachment text"},
                       {"filename": "big.bin", "pattern": {"size": 200000, "seed": 2}},
                       {"filename": "Inner", "embedded": {"subject": "Embedded",
                        "attachments": [{"filename": "x.txt", "data": "x"}]}}]}
    ], "associated": [{"class": "IPM.Microsoft.FolderDesign.NamedView", "subject": "view"}],
       "folders": [{"name": "Sub", "messages": [{"subject": "Deep", "repeat": 3,
       "properties": [{"tag": "0x0E07", "type": "PT_LONG", "value": 0}]}]}]},
    {"name": "Contacts", "messages": [{"class": "IPM.Contact", "subject": "Eve",
       "properties": [{"tag": "0x0E07", "type": "PT_LONG", "value": 1},
                      {"named": {"set": "PSETID_Address", "id": "0x8083"}, "type": "PT_UNICODE", "value": "eve@example.com"}]}]},
    {"name": "Calendar", "messages": [{"class": "IPM.Appointment", "subject": "Meeting",
       "properties": [{"tag": "0x0E07", "type": "PT_LONG", "value": 1},
                      {"named": {"set": "PSETID_Appointment", "id": "0x8208"}, "type": "PT_UNICODE", "value": "Room 1"}]}]},
    {"name": "Données", "messages": [{"subject": "Ünïcödé ✉", "repeat": 2,
       "properties": [{"tag": "0x0E07", "type": "PT_LONG", "value": 1}]}]}
  ]},
  "folders": [{"name": "Tree", "tree": {"depth": 3, "fanout": 3, "name": "T",
               "messages": [{"subject": "Tree message",
                             "properties": [{"tag": "0x0E07", "type": "PT_LONG", "value": 1}]}]}}]
}
JSON
"$KORVEL_BINARY_DIR/convert/korvel-mkpst" mailbox.json writer.pst
cp "$KORVEL_SAMPLES_DIR/enron.pst" enron.pst

readers="$KORVEL_BINARY_DIR/readers"

# One line per reader: what it found in the file.
counts() {
    local pst="$1" out="$2"
    rm -rf "$out"
    mkdir -p "$out"
    pffinfo "$pst" > "$out/pffinfo.txt" 2>&1
    grep -q "Personal Storage Tables" "$out/pffinfo.txt"
    pffexport -q -t "$out/export" "$pst" > "$out/pffexport.txt" 2>&1
    if grep -qi "error\|unable" "$out/pffexport.txt"; then
        cat "$out/pffexport.txt" >&2
        return 1
    fi
    local messages folders
    messages=$(find "$out/export.export" -type d -name 'Message*' -not -path '*/Attachments/*' | wc -l)
    folders=$(find "$out/export.export" -type d -not -name 'Message*' -not -path '*/Message*' | wc -l)
    echo "pffexport $folders $messages"
    mkdir -p "$out/readpst"
    # One process: readpst's parallel jobs now and then drop a message of a folder.
    readpst -j 0 -q -D -S -o "$out/readpst" "$pst" > "$out/readpst.txt" 2>&1
    echo "readpst $(find "$out/readpst" -type d | wc -l) $(find "$out/readpst" -type f -regex '.*/[0-9]+' | wc -l)"
    echo "pst-extractor $(NODE_PATH="$readers/node_modules" node "$KORVEL_SOURCE_DIR/tests/readers/walk_pst.js" "$pst" | grep '^TOTAL')"
}

for name in enron writer; do
    echo "== $name"
    "$KORVEL_BINARY_DIR/tests/korvel-probe" save "$name.pst" "$name-copy.pst" > "$name-save.txt"
    cat "$name-save.txt"
    grep -q "^unreadable	0$" "$name-save.txt"
    grep -q "^recovered	0$" "$name-save.txt"
    counts "$name.pst" "$name-source" > "$name-source.txt"
    counts "$name-copy.pst" "$name-copied" > "$name-copy.txt"
    cat "$name-copy.txt"
    diff "$name-source.txt" "$name-copy.txt"
    # Every reader found something.
    ! grep -q " 0$" "$name-copy.txt"
done
# Attachment data and 8-bit text as pffexport shows them.
cmp writer-source/export.export/Top\ of\ Personal\ Folders/Inbox/Message00001/Attachments/2_big.bin \
    writer-copied/export.export/Top\ of\ Personal\ Folders/Inbox/Message00001/Attachments/2_big.bin
grep -q "René" writer-copied/export.export/Top\ of\ Personal\ Folders/Inbox/Message00001/OutlookHeaders.txt
echo "all readers agree"
