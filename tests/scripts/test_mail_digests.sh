#!/usr/bin/env bash
# The mbox and EML output, byte for byte, against digests kept in
# tests/golden/mail-digests.txt: the sample mailbox and a writer-made one with
# what the MIME writing does by hand around GMime (attachment data encoded
# in chunks, empty and chunk-sized attachments, text bodies stored already
# quoted-printable or base64, CRLF bodies, RTF-only and encapsulated HTML
# bodies, inline images with and without names, an embedded message, and
# address headers of several recipients with IDN domains met twice; long
# folded and encoded headers, parameters GMime must quote or encode, stray
# CRs, and kept transport headers with two dates, outside and embedded).
# Boundaries differ per run and are masked. After a deliberate change to the
# output, KORVEL_UPDATE_GOLDEN=1 rewrites the digests.
set -euo pipefail
: "${KORVEL_BINARY_DIR:?}" "${KORVEL_SOURCE_DIR:?}" "${KORVEL_SAMPLES_DIR:?}"
probe="$KORVEL_BINARY_DIR/tests/korvel-probe"
golden="$KORVEL_SOURCE_DIR/tests/golden/mail-digests.txt"
work="$KORVEL_BINARY_DIR/scratch/mail_digests"
rm -rf "$work"
mkdir -p "$work"
cd "$work"

cat > parts.json <<'JSON'
{
  "folders": [
    {"name": "Parts", "messages": [
      {"subject": "Attachment sizes", "body": "Sizes around the chunk\r\nand the base64 line\r\n",
       "properties": [{"tag": "0x0C1A", "type": "PT_UNICODE", "value": "Ann Sender"},
                      {"tag": "0x0C1F", "type": "PT_UNICODE", "value": "ann@example.com"},
                      {"tag": "0x0039", "type": "PT_SYSTIME", "value": "2024-05-01T10:00:00Z"}],
       "attachments": [
         {"filename": "empty.bin", "data": ""},
         {"filename": "one.bin", "data": "x"},
         {"filename": "line.bin", "pattern": {"size": 57, "seed": 1}},
         {"filename": "chunk.bin", "pattern": {"size": 16384, "seed": 2}},
         {"filename": "chunk-plus-one.bin", "pattern": {"size": 16385, "seed": 3}},
         {"filename": "big.bin", "pattern": {"size": 100001, "seed": 4}}]},
      {"subject": "Quoted-printable and base64 bodies",
       "body": "Caf\u00e9 au lait, cr\u00e8me br\u00fbl\u00e9e \u2014 a line long enough that quoted-printable has to break it somewhere past the seventy-sixth column.\r\nFrom the kitchen\r\n",
       "html": "<p>\u65e5\u672c\u8a9e\u306e\u672c\u6587\u3067\u3059\u3002\u65e5\u672c\u8a9e\u306e\u672c\u6587\u3067\u3059\u3002</p>"},
      {"subject": "Inline images",
       "html": "<p><img src=\"cid:named@example.com\"><img src=\"cid:unnamed@example.com\"></p>",
       "body": "Two pictures",
       "attachments": [
         {"filename": "named.png", "pattern": {"size": 700, "seed": 5},
          "properties": [{"tag": "0x3712", "type": "PT_UNICODE", "value": "<named@example.com>"}]},
         {"pattern": {"size": 300, "seed": 6},
          "properties": [{"tag": "0x3712", "type": "PT_UNICODE", "value": "<unnamed@example.com>"},
                         {"tag": "0x370E", "type": "PT_UNICODE", "value": "image/gif"}]},
         {"filename": "not-shown.png", "pattern": {"size": 200, "seed": 7},
          "properties": [{"tag": "0x3712", "type": "PT_UNICODE", "value": "<elsewhere@example.com>"}]}]},
      {"subject": "RTF only",
       "rtf": "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0 Hello from RTF\\par second \\'e9 line\\par}"},
      {"subject": "Encapsulated HTML",
       "rtf": "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0{\\fonttbl{\\f0\\fswiss Arial;}}{\\*\\htmltag64}{\\*\\htmltag19 <html>}{\\*\\htmltag50 <body>}\\htmlrtf \\pard\\f0 \\htmlrtf0 {\\*\\htmltag84 <p>}Caf\\'e9 \\u8364? ok{\\*\\htmltag92 </p>}{\\*\\htmltag58 </body>}{\\*\\htmltag27 </html>}}"},
      {"subject": "Embedded message", "body": "Forwarding",
       "attachments": [{"filename": "Inner", "embedded": {
         "subject": "Inner message", "body": "Inner body",
         "attachments": [{"filename": "inner.bin", "pattern": {"size": 20000, "seed": 8}}]}}]},
      {"subject": "Recipients of every kind", "body": "Hello all",
       "properties": [{"tag": "0x0C1A", "type": "PT_UNICODE", "value": "Ann Sender"},
                      {"tag": "0x0C1F", "type": "PT_UNICODE", "value": "ann@Example.COM"},
                      {"tag": "0x0042", "type": "PT_UNICODE", "value": "Boss"},
                      {"tag": "0x5D02", "type": "PT_UNICODE", "value": "boss@b\u00fccher.example"}],
       "recipients": [{"type": 2, "name": "Carol", "email": "carol@example.com"},
                      {"type": 1, "name": "Bob", "email": "bob@example.com"},
                      {"type": 3, "name": "Hidden", "email": "hidden@m\u00fcnchen.example"},
                      {"type": 1, "name": "J\u00fcrgen M\u00fcller", "email": "j@m\u00fcnchen.example"},
                      {"type": 1, "name": "", "email": "x@M\u00dcNCHEN.example"},
                      {"type": 2, "name": "Dave, Quoted", "email": "dave@EXAMPLE.com"},
                      {"type": 1, "name": "Frank", "email": "frank@bad_domain..example"},
                      {"type": 1, "name": "No at", "email": "noat"},
                      {"type": 0, "name": "Originator", "email": "orig@example.com"}]},
      {"subject": "The same domains again", "body": "x",
       "recipients": [{"type": 1, "name": "M", "email": "m@m\u00fcnchen.example"},
                      {"type": 1, "name": "U", "email": "u@M\u00dcNCHEN.example"},
                      {"type": 2, "name": "C", "email": "c@Example.COM"}]},
      {"subject": "\u00dcber die lange Liste der Empf\u00e4nger, die \u00fcber mehrere Zeilen gefaltet werden muss,\r\nmit Zeilenende darin \u2014 und \"Anf\u00fchrungszeichen\"",
       "body": "lone\rcarriage\r\r\nreturns\r",
       "html": "<p>cr at the end\r",
       "properties": [{"tag": "0x1035", "type": "PT_UNICODE", "value": "<id.1@example.com>"},
                      {"tag": "0x1042", "type": "PT_UNICODE", "value": "<parent.1@example.com>"},
                      {"tag": "0x1039", "type": "PT_UNICODE", "value": "<a.1@example.com> <b.2@example.com> <c.3@example.com> <d.4@example.com> <e.5@example.com>"},
                      {"tag": "0x0042", "type": "PT_UNICODE", "value": "Sender On Behalf"},
                      {"tag": "0x0C1A", "type": "PT_UNICODE", "value": "The Actual Sender"},
                      {"tag": "0x0C1F", "type": "PT_UNICODE", "value": "actual@example.com"}],
       "recipients": [{"type": 1, "name": "A Very Long Display Name Of The First Recipient", "email": "first.recipient@example.com"},
                      {"type": 1, "name": "Zo\u00eb Second-Recipient With A Long Name", "email": "second.recipient@example.com"},
                      {"type": 1, "name": "Third, Quoted", "email": "third@example.com"},
                      {"type": 3, "name": "", "email": "blind@example.com"}],
       "attachments": [
         {"filename": "Pr\u00e4sentation f\u00fcr die Gesch\u00e4ftsleitung mit einem sehr langen Namen.pdf",
          "data": "pdf",
          "properties": [{"tag": "0x3712", "type": "PT_UNICODE", "value": "<pdf@example.com>"}]},
         {"filename": "a \"quoted\" name; with=specials.txt", "data": "x",
          "properties": [{"tag": "0x370E", "type": "PT_UNICODE", "value": "Text/Plain"}]}]},
      {"subject": "Kept headers",
       "body": "body\r\n",
       "properties": [{"tag": "0x007D", "type": "PT_UNICODE", "value": "Received: from mx.example.com by mail.example.com;\r\n\tMon, 7 Mar 2011 14:05:09 +0000\r\nFrom: \"Kept, Sender\" <kept@example.com>\r\nTo: a@example.com,\r\n b@example.com\r\nSubject: =?utf-8?q?Gr=C3=BC=C3=9Fe?=\r\nDate: Mon, 7 Mar 2011 14:05:09 +0000\r\nDate: yesterday\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\nX-Odd:  two  blanks \r\n"}],
       "attachments": [{"filename": "Forwarded", "embedded": {
         "subject": "Inner with kept headers",
         "properties": [{"tag": "0x007D", "type": "PT_UNICODE", "value": "From: inner@example.com\r\nSubject: inner\r\n"}],
         "body": "inner body"}}]},
      {"subject": "Nothing but a subject"},
      {"html": "<p>only HTML, no line end</p>"}
    ]}
  ]
}
JSON
"$KORVEL_BINARY_DIR/convert/korvel-mkpst" parts.json parts.pst

for format in mbox eml; do
  "$probe" convert parts.pst "$format" "parts.$format" > /dev/null
  "$probe" convert "$KORVEL_SAMPLES_DIR/enron.pst" "$format" "enron.$format" > /dev/null
done
digests() {
  find parts.mbox parts.eml enron.mbox enron.eml -type f -print0 | sort -z |
    while IFS= read -r -d '' file; do
      printf '%s  %s\n' \
        "$(sed -E 's/=_korvel_[0-9a-f]{16}_[0-9a-f]+/=_korvel_B/g' "$file" | sha256sum | cut -c1-64)" \
        "$file"
    done
}
digests > digests.txt
if [ "${KORVEL_UPDATE_GOLDEN:-0}" = 1 ]; then
  cp digests.txt "$golden"
  echo "digests written to $golden"
  exit 0
fi
if ! diff -u "$golden" digests.txt; then
  echo "the mail output differs from tests/golden/mail-digests.txt" >&2
  exit 1
fi
echo "mail output matches its digests ($(wc -l < digests.txt) files)"
