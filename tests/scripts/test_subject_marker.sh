#!/usr/bin/env bash
# A stored subject may begin with a prefix marker (U+0001 and a character
# whose code is the length of the "RE: " prefix). Every place that shows or
# writes a subject drops it: the list, the preview's header page, EML and
# mbox (read back by Python's email), iCalendar SUMMARY and vCard FN (read by
# ical.js); the saved PST keeps the property as stored (read raw by
# pst-extractor).
set -euo pipefail
: "${KORVEL_BINARY_DIR:?}" "${KORVEL_SOURCE_DIR:?}"
probe="$KORVEL_BINARY_DIR/tests/korvel-probe"
work="$KORVEL_BINARY_DIR/scratch/subject_marker"
rm -rf "$work"
mkdir -p "$work/tmp"
cd "$work"

apt() { printf '{"named": {"set": "PSETID_Appointment", "id": "%s"}, "type": "PT_SYSTIME", "value": "%s"}' "$1" "$2"; }
cat > mailbox.json <<JSON
{"folders": [
  {"name": "Mail", "messages": [
    {"subject": "Plain subject", "body": "b"},
    {"subject": "\u0001\u0001No prefix", "body": "b"},
    {"subject": "\u0001\u0004RE: Real prefix", "body": "b"},
    {"subject": "Marker at end\u0001\u0001", "body": "b"},
    {"subject": "\u0001\u0004", "body": "b"},
    {"subject": "\u0001", "body": "b"}]},
  {"name": "Calendar", "messages": [{"class": "IPM.Appointment", "subject": "\u0001\u0004RE: Meeting",
    "properties": [$(apt 0x820D 2026-03-02T09:00:00Z), $(apt 0x820E 2026-03-02T10:00:00Z)]}]},
  {"name": "Contacts", "messages": [{"class": "IPM.Contact", "subject": "\u0001\u0001Erin"}]}
]}
JSON
"$KORVEL_BINARY_DIR/convert/korvel-mkpst" mailbox.json mailbox.pst
expected=("Plain subject" "No prefix" "RE: Real prefix" "Marker at end" "" "")

echo "== list"
"$probe" list mailbox.pst Mail | awk -F'\t' '$1 == "row" {print $2 "\t" $5}' | sort -n | cut -f2 > list.txt
diff <(printf '%s\n' "${expected[@]}") list.txt

echo "== preview"
export TMPDIR="$work/tmp"
header="$TMPDIR/korvel-$(id -u)/Attachments/header.html"
for n in 1 2 3 4 5 6; do
    "$probe" preview mailbox.pst Mail "$n" > /dev/null
    subject=${expected[n - 1]}
    page=$(iconv -f UTF-16LE -t UTF-8 "$header")
    if [ -n "$subject" ] && [[ "$page" != *"font-weight:bold;'>$subject</td>"* ]]; then
        echo "preview $n: no subject \"$subject\""; exit 1
    fi
    if [[ "$page" == *[$'\x01'-$'\x08']* ]]; then
        echo "preview $n: control characters in the header page"; exit 1
    fi
done

echo "== EML and mbox"
"$probe" convert mailbox.pst eml out.eml > /dev/null
"$probe" convert mailbox.pst mbox out.mbox > /dev/null
python3 - "${expected[@]}" <<'PY'
import email, email.policy, glob, mailbox, sys
expected = sorted(sys.argv[1:])
def subjects(messages):
    return sorted(str(m.get('Subject', '')) for m in messages)
eml = [email.message_from_binary_file(open(p, 'rb'), policy=email.policy.default)
       for p in glob.glob('out.eml/Mail/Mail/*.eml')]
box = mailbox.mbox('out.mbox/Mail/Mail', factory=lambda f: email.message_from_binary_file(f, policy=email.policy.default))
for name, got in (('eml', subjects(eml)), ('mbox', subjects(box))):
    if got != expected:
        sys.exit(f'{name}: {got!r} != {expected!r}')
PY

echo "== iCalendar and vCard"
"$probe" calendar mailbox.pst Calendar ics > calendar.ics
"$probe" calendar mailbox.pst Contacts vcf > contacts.vcf
NODE_PATH="$KORVEL_BINARY_DIR/readers/node_modules" node - <<'JS'
const ICAL = require('ical.js');
const fs = require('fs');
const read = (f) => new ICAL.Component(ICAL.parse(fs.readFileSync(f, 'utf8')));
const summary = read('calendar.ics').getFirstSubcomponent('vevent').getFirstPropertyValue('summary');
const name = read('contacts.vcf').getFirstPropertyValue('fn');
if (summary !== 'RE: Meeting' || name !== 'Erin') {
  console.error(JSON.stringify({summary, name}));
  process.exit(1);
}
JS

echo "== saved PST"
"$probe" save mailbox.pst saved.pst > /dev/null
walk="$KORVEL_SOURCE_DIR/tests/readers/walk_pst.js"
NODE_PATH="$KORVEL_BINARY_DIR/readers/node_modules" node "$walk" mailbox.pst raw | grep '^R' > source.txt
NODE_PATH="$KORVEL_BINARY_DIR/readers/node_modules" node "$walk" saved.pst raw | grep '^R' > saved.txt
grep -qF '"\u0001\u0004RE: Real prefix"' saved.txt
diff source.txt saved.txt
echo OK
