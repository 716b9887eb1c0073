#!/usr/bin/env bash
# ical.js, the parser a major mail client uses, reads the iCalendar and vCard
# text we write for a mailbox made by our writer, and its key fields (times
# as UTC instants, expanded recurrences, people, task state, contact fields)
# equal the source's.
set -euo pipefail
: "${KORVEL_BINARY_DIR:?}" "${KORVEL_SOURCE_DIR:?}"
work="$KORVEL_BINARY_DIR/scratch/ical_readers"
rm -rf "$work"
mkdir -p "$work"
cd "$work"

if ! command -v node > /dev/null; then
    echo "node is missing"
    exit 1
fi
readers="$KORVEL_BINARY_DIR/readers"
checker="$KORVEL_SOURCE_DIR/tests/readers/check_ical.js"

node "$checker" fixture > mailbox.json
"$KORVEL_BINARY_DIR/convert/korvel-mkpst" mailbox.json mailbox.pst
probe="$KORVEL_BINARY_DIR/tests/korvel-probe"
"$probe" calendar mailbox.pst Calendar ics > calendar.ics 2> calendar.notes
"$probe" calendar mailbox.pst Contacts vcf > contacts.vcf 2> contacts.notes
# The damaged recurrence is the one note; nothing is unreadable.
grep -q "^item 6: .*saved without its recurrence$" calendar.notes || { cat calendar.notes; exit 1; }
[ "$(wc -l < calendar.notes)" -eq 1 ] || { cat calendar.notes; exit 1; }
[ ! -s contacts.notes ] || { cat contacts.notes; exit 1; }
NODE_PATH="$readers/node_modules" node "$checker" check calendar.ics contacts.vcf
# Monthly on the 29th and the 30th: in shorter months on their last day.
python3 - <<'PY'
import sys
from dateutil import parser, rrule
text = open("calendar.ics", encoding="utf-8").read().replace("\r\n ", "").splitlines()
events, current = {}, None
for line in text:
    name, _, value = line.partition(":")
    if line == "BEGIN:VEVENT":
        current = {}
    elif current is None:
        continue
    elif name in ("SUMMARY", "RRULE"):
        current[name] = value
    elif name.startswith("DTSTART"):
        current["DTSTART"] = line.rsplit(":", 1)[1]  # its zone's quoted name has colons
    elif line == "END:VEVENT":
        events[current.get("SUMMARY")] = current
        current = None
want = {"Rent": ["2027-01-29", "2027-02-28", "2027-03-29"],
        "Payday": ["2026-01-30", "2026-02-28", "2026-03-30", "2026-04-30"]}
for summary, days in want.items():
    e = events[summary]
    got = [d.date().isoformat() for d in
           rrule.rrulestr(e["RRULE"], dtstart=parser.parse(e["DTSTART"].rstrip("Z")))]
    if got != days:
        sys.exit(f"{summary}: {e['RRULE']} gives {got}, not {days}")
PY
