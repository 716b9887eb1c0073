#!/usr/bin/env bash
# The mbox output as a mail client meets it: its "Mail" directory holds only
# mbox files and .sbd directories (contacts and calendars are beside it), no
# search folder and no empty system folder, and every message has exactly one
# Date that Python's email.utils reads: the stored one when it is a date,
# else the message's submit or delivery time, the stored line kept as
# X-Original-Date. On the sample and on a writer-made mailbox.
set -euo pipefail
: "${KORVEL_BINARY_DIR:?}" "${KORVEL_SOURCE_DIR:?}" "${KORVEL_SAMPLES_DIR:?}"
probe="$KORVEL_BINARY_DIR/tests/korvel-probe"
check="$KORVEL_SOURCE_DIR/tests/readers/check_mail_tree.py"
work="$KORVEL_BINARY_DIR/scratch/mail_client_tree"
rm -rf "$work"
mkdir -p "$work"
cd "$work"

echo "== enron.pst"
"$probe" convert "$KORVEL_SAMPLES_DIR/enron.pst" mbox enron.mbox > /dev/null
[ "$(ls enron.mbox)" = "Mail" ]
[ "$(ls enron.mbox/Mail)" = $'Top of Personal Folders\nTop of Personal Folders.sbd' ]
python3 "$check" enron.mbox/Mail --dates enron-dates.txt
[ "$(wc -l < enron-dates.txt)" -eq 71 ]

echo "== writer-made mailbox"
headers() { # stored transport headers with the given Date lines
    local out="Received: from mx.example.com by example.org; Tue, 30 Apr 2024 06:00:00 +0000\r\nFrom: Ann <ann@example.com>\r\nTo: Bob <bob@example.com>\r\nSubject: $1\r\n"
    shift
    for d in "$@"; do out+="Date: $d\r\n"; done
    printf '%s' "$out"
}
time_prop() { printf '{"tag": "%s", "type": "PT_SYSTIME", "value": "%s"}' "$1" "$2"; }
message() { # subject, submit time or "", delivery time or "", Date lines...
    local subject="$1" submit="$2" delivery="$3"
    shift 3
    local props="{\"tag\": \"0x007D\", \"type\": \"PT_UNICODE\", \"value\": \"$(headers "$subject" "$@")\"}"
    [ -n "$submit" ] && props+=", $(time_prop 0x0039 "$submit")"
    [ -n "$delivery" ] && props+=", $(time_prop 0x0E06 "$delivery")"
    printf '{"subject": "%s", "body": "b", "properties": [%s]}' "$subject" "$props"
}
cat > mailbox.json <<JSON
{"top_of_personal_folders": true,
 "top": {"folders": [
   {"name": "Inbox", "messages": [
     $(message "Two dates in one line" 2001-04-10T14:55:01Z "" "Tue, 10 Apr 2001 07:55:01 -0700 (PDT) Tue, 10 Apr 2001 07:55:01 -0500"),
     $(message "Two Date lines" 2024-05-01T10:00:00Z "" "Wed, 1 May 2024 12:00:00 +0200" "Wed, 1 May 2024 11:00:00 +0100"),
     $(message "Commented date" "" "" "Thu, 2 May 2024 08:00:00 -0700 (PDT)"),
     $(message "No date, delivery time" "" 2024-05-03T09:30:00Z "not a date"),
     $(message "No Date line" 2024-05-04T07:00:00Z "")]},
   {"name": "Empty inside", "messages": []},
   {"name": "Calendar", "messages": [{"class": "IPM.Appointment", "subject": "Meeting",
     "properties": [{"named": {"set": "PSETID_Appointment", "id": "0x820D"}, "type": "PT_SYSTIME", "value": "2026-03-02T09:00:00Z"},
                    {"named": {"set": "PSETID_Appointment", "id": "0x820E"}, "type": "PT_SYSTIME", "value": "2026-03-02T10:00:00Z"}]}]},
   {"name": "Contacts", "messages": [{"class": "IPM.Contact", "subject": "Erin"}]}]},
 "folders": [
   {"name": "System", "messages": []},
   {"name": "Holder", "folders": [{"name": "Kept", "messages": [$(message "Below an empty folder" 2024-05-05T07:00:00Z "")]}]}]}
JSON
"$KORVEL_BINARY_DIR/convert/korvel-mkpst" mailbox.json mailbox.pst
"$probe" convert mailbox.pst mbox out.mbox > /dev/null
python3 "$check" out.mbox/Mail --dates dates.txt
# Outside the user's folders only what holds mail (or leads to it) is made.
diff <(cd out.mbox/Mail && find . | sort) - <<'TREE'
.
./Holder
./Holder.sbd
./Holder.sbd/Kept
./Top of Personal Folders
./Top of Personal Folders.sbd
./Top of Personal Folders.sbd/Calendar
./Top of Personal Folders.sbd/Contacts
./Top of Personal Folders.sbd/Deleted Items
./Top of Personal Folders.sbd/Drafts
./Top of Personal Folders.sbd/Empty inside
./Top of Personal Folders.sbd/Inbox
./Top of Personal Folders.sbd/Journal
./Top of Personal Folders.sbd/Junk E-mail
./Top of Personal Folders.sbd/Notes
./Top of Personal Folders.sbd/Outbox
./Top of Personal Folders.sbd/Sent Items
./Top of Personal Folders.sbd/Tasks
TREE
grep -q "^SUMMARY:Meeting" "out.mbox/Contacts and Calendars/Top of Personal Folders/Calendar.ics"
grep -q "^FN:Erin" "out.mbox/Contacts and Calendars/Top of Personal Folders/Contacts.vcf"
# The same layout for EML.
"$probe" convert mailbox.pst eml out.eml > /dev/null
[ -d "out.eml/Mail/Top of Personal Folders/Empty inside" ] && [ ! -e out.eml/Mail/System ]
[ -f "out.eml/Contacts and Calendars/Top of Personal Folders/Calendar.ics" ]

diff <(cut -f2- dates.txt | sort) - <<'DATES'
Below an empty folder	2024-05-05T07:00:00+00:00	
Commented date	2024-05-02T15:00:00+00:00	
No Date line	2024-05-04T07:00:00+00:00	
No date, delivery time	2024-05-03T09:30:00+00:00	not a date
Two Date lines	2024-05-01T10:00:00+00:00	Wed, 1 May 2024 11:00:00 +0100
Two dates in one line	2001-04-10T14:55:01+00:00	Tue, 10 Apr 2001 07:55:01 -0700 (PDT) Tue, 10 Apr 2001 07:55:01 -0500
DATES
echo OK
