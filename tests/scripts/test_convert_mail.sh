#!/usr/bin/env bash
# The mail formats read by readers that are not ours: a writer-made mailbox
# with every body form, inline image, embedded message with its own
# attachment, non-ASCII subjects and names, kept internet headers and "From "
# lines, and the sample mailbox, converted by korvel-probe convert to mbox and
# EML; Python's mailbox and email read every message and compare it with
# pffexport's export of the source (tests/readers/check_mail.py); the
# sample's folder counts also equal readpst's.
set -euo pipefail
: "${KORVEL_BINARY_DIR:?}" "${KORVEL_SOURCE_DIR:?}" "${KORVEL_SAMPLES_DIR:?}"
probe="$KORVEL_BINARY_DIR/tests/korvel-probe"
check="$KORVEL_SOURCE_DIR/tests/readers/check_mail.py"
work="$KORVEL_BINARY_DIR/scratch/convert_mail"
rm -rf "$work"
mkdir -p "$work"
cd "$work"

cat > mail.json <<'JSON'
{
  "folders": [
    {"name": "Mail", "messages": [
      {"subject": "HTML and text", "body": "Plain text body\r\n",
       "html": "<html><body><p>HTML body</p></body></html>",
       "properties": [
         {"tag": "0x0042", "type": "PT_UNICODE", "value": "Ann Sender"},
         {"tag": "0x0065", "type": "PT_UNICODE", "value": "ann@example.com"},
         {"tag": "0x0064", "type": "PT_UNICODE", "value": "SMTP"},
         {"tag": "0x0039", "type": "PT_SYSTIME", "value": "2024-05-01T10:00:00Z"},
         {"tag": "0x1035", "type": "PT_UNICODE", "value": "<id-1@example.com>"}],
       "recipients": [{"type": 1, "name": "Bob To", "email": "bob@example.com"},
                      {"type": 2, "name": "Carol Cc", "email": "carol@example.com"},
                      {"type": 1, "name": "J\u00f6rg \u00dcml\u00e4ut", "email": "jorg@example.com"}]},
      {"subject": "RTF only",
       "rtf": "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0 Hello from RTF\\par second line\\par}",
       "properties": [{"tag": "0x0C1A", "type": "PT_UNICODE", "value": "Ann Sender"},
                      {"tag": "0x0C1F", "type": "PT_UNICODE", "value": "ann@example.com"},
                      {"tag": "0x0C1E", "type": "PT_UNICODE", "value": "SMTP"},
                      {"tag": "0x0039", "type": "PT_SYSTIME", "value": "2024-05-02T11:30:00Z"}]},
      {"subject": "Encapsulated HTML",
       "rtf": "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0{\\fonttbl{\\f0\\fswiss Arial;}}{\\*\\htmltag64}{\\*\\htmltag19 <html>}{\\*\\htmltag50 <body>}\\htmlrtf \\pard\\f0 \\htmlrtf0 {\\*\\htmltag84 <p>}Caf\\'e9 \\u8364? ok{\\*\\htmltag92 </p>}{\\*\\htmltag58 </body>}{\\*\\htmltag27 </html>}}"},
      {"subject": "Inline image and a named attachment", "body": "See the picture",
       "html": "<p>See <img src=\"cid:pic1@example.com\"></p>",
       "attachments": [
         {"filename": "pic.png", "pattern": {"size": 3000, "seed": 7},
          "properties": [{"tag": "0x3712", "type": "PT_UNICODE", "value": "<pic1@example.com>"},
                         {"tag": "0x370E", "type": "PT_UNICODE", "value": "image/png"}]},
         {"filename": "r\u00e9sum\u00e9 \u65e5\u672c.txt", "data": "attached text"},
         {"filename": "big.bin", "pattern": {"size": 300000, "seed": 5}}]},
      {"subject": "Embedded message", "body": "Forwarding",
       "attachments": [{"filename": "Inner", "embedded": {
         "subject": "Inner message", "body": "Inner body",
         "properties": [{"tag": "0x0C1A", "type": "PT_UNICODE", "value": "Dan Inner"},
                        {"tag": "0x0C1F", "type": "PT_UNICODE", "value": "dan@example.com"}],
         "attachments": [{"filename": "inner.bin", "pattern": {"size": 70000, "seed": 3}}]}}]},
      {"subject": "Gr\u00fc\u00dfe \u65e5\u672c \u2713", "body": "Unicode subject"},
      {"body": "8-bit subject",
       "properties": [{"tag": "0x3FFD", "type": "PT_LONG", "value": 1252},
                      {"tag": "0x0037", "type": "PT_STRING8", "hex": "436166e920382d626974"}]},
      {"subject": "From lines", "body": "First line\nFrom here on\n>From quoted\n>>From twice\nFrom"},
      {"subject": "Kept internet headers", "body": "Body under kept headers",
       "properties": [{"tag": "0x007D", "type": "PT_UNICODE",
         "value": "Received: from mx.example.com by example.org;\r\n Tue, 30 Apr 2024 06:00:00 +0000\r\nFrom: =?UTF-8?Q?J=C3=B6rg?= <jorg@example.com>\r\nTo: Ann <ann@example.com>\r\nCc: bob@example.com\r\nSubject: =?UTF-8?B?S2VwdCDinJM=?=\r\nDate: Tue, 30 Apr 2024 08:00:00 +0200\r\nMessage-ID: <t1@example.com>\r\nMIME-Version: 1.0\r\nContent-Type: multipart/alternative; boundary=\"old\"\r\n"}]},
      {"subject": "Same/subject", "body": "first"},
      {"subject": "Same/subject", "body": "second"},
      {"class": "IPM.StickyNote", "subject": "A sticky note"}
    ], "folders": [{"name": "Sub", "messages": [
      {"class": "REPORT.IPM.Note.NDR", "subject": "Undeliverable", "body": "report"}]}]},
    {"name": "Contacts", "messages": [{"class": "IPM.Contact", "subject": "Erin"}]}
  ]
}
JSON
"$KORVEL_BINARY_DIR/convert/korvel-mkpst" mail.json mail.pst
pffexport -q -t mail mail.pst > /dev/null

for format in mbox eml; do
  echo "== $format: writer-made mailbox"
  "$probe" convert mail.pst "$format" "mail.$format" | tee "probe-$format.txt"
  grep -qx $'items\t13' "probe-$format.txt"
  grep -qx $'skipped\t1' "probe-$format.txt"
  python3 "$check" "$format" "mail.$format/Mail" mail.export --strict --expect-encapsulated 1

  echo "== $format: an existing output is never replaced"
  before=$(find "mail.$format" -type f -exec sha1sum {} + | sort | sha1sum)
  if "$probe" convert mail.pst "$format" "mail.$format" > again.txt 2>&1; then
    echo "a second conversion into mail.$format succeeded"; exit 1
  fi
  after=$(find "mail.$format" -type f -exec sha1sum {} + | sort | sha1sum)
  [ "$before" = "$after" ]
done

# Layout details a mail client depends on.
[ -f mail.mbox/Mail/Mail ] && [ -f mail.mbox/Mail/Mail.sbd/Sub ] && [ ! -e mail.mbox/Mail/Contacts ]
grep -q "^FN:Erin" "mail.mbox/Contacts and Calendars/Contacts.vcf"
grep -q "^FN:Erin" "mail.eml/Contacts and Calendars/Contacts.vcf"
[ -f "mail.eml/Mail/Mail/Same_subject.eml" ] && [ -f "mail.eml/Mail/Mail/Same_subject (2).eml" ]
grep -q '^>From here on$' mail.mbox/Mail/Mail
grep -q '^>>>From twice$' mail.mbox/Mail/Mail

echo "== enron.pst"
"$probe" convert "$KORVEL_SAMPLES_DIR/enron.pst" mbox enron.mbox
"$probe" convert "$KORVEL_SAMPLES_DIR/enron.pst" eml enron.eml > /dev/null
pffexport -q -t enron "$KORVEL_SAMPLES_DIR/enron.pst" > /dev/null
mkdir readpst
# One process: readpst's parallel jobs now and then drop a message of a folder.
readpst -j 0 -q -r -o readpst "$KORVEL_SAMPLES_DIR/enron.pst" > /dev/null
# The sample keeps every body as plain text: no RTF body encapsulates HTML.
python3 "$check" mbox enron.mbox/Mail enron.export --readpst readpst --strict --expect-encapsulated 0
python3 "$check" eml enron.eml/Mail enron.export --strict --expect-encapsulated 0
echo "OK"
