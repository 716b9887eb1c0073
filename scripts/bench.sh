#!/usr/bin/env bash
# Builds and runs the speed and memory benchmarks (not part of the test
# command: the big mailboxes take minutes to read back through libpff).
#   bash scripts/bench.sh [WORKDIR]
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-build-bench/data}

bash scripts/setup.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build-bench -j2
mkdir -p "$work"

# 100,000 e-mails in one folder, written by our own writer.
cat > "$work/big.json" <<'JSON'
{"folders": [{"name": "Big", "messages": [{"subject": "Message {n}", "properties": [
 {"tag": "0x0C1A", "type": "PT_UNICODE", "value": "Ann Smith"},
 {"tag": "0x0C1F", "type": "PT_UNICODE", "value": "ann@example.com"},
 {"tag": "0x0E07", "type": "PT_LONG", "value": 1},
 {"tag": "0x0E08", "type": "PT_LONG", "value": 2048},
 {"tag": "0x0E06", "type": "PT_SYSTIME", "value": "2011-03-07T14:05:09Z"},
 {"tag": "0x0017", "type": "PT_LONG", "value": 1}], "repeat": 100000}]}]}
JSON
build-bench/convert/korvel-mkpst "$work/big.json" "$work/big.pst"

echo "== listing a folder of 100,000 e-mails (engine)"
build-bench/bench/bench_list "$work/big.pst" Big 1
echo "== preview of an e-mail with two attachments"
build-bench/bench/bench_preview "$work"
# 20,000 e-mails in 40 folders for the mail conversion: sender, recipients,
# plain and HTML bodies, a small attachment on every message. (Folders of
# thousands of messages measure the save walk's per-index lookup instead, until
# the one-pass message walk replaces it.)
cat > "$work/mail.json" <<'JSON'
{"top_of_personal_folders": true, "top": {"folders": [{"name": "Inbox", "tree": {
 "depth": 1, "fanout": 40, "name": "Project ", "messages": [
 {"subject": "Message {n} about the quarterly numbers", "repeat": 500,
  "body": "Hello,\r\n\r\nthe numbers are attached. From the team.\r\n\r\nRegards,\r\nAnn\r\n",
  "html": "<html><body><p>Hello,</p><p>the numbers are attached.</p><p>Regards,<br>Ann</p></body></html>",
  "properties": [
   {"tag": "0x0C1A", "type": "PT_UNICODE", "value": "Ann Smith"},
   {"tag": "0x0C1F", "type": "PT_UNICODE", "value": "ann@example.com"},
   {"tag": "0x0C1E", "type": "PT_UNICODE", "value": "SMTP"},
   {"tag": "0x0039", "type": "PT_SYSTIME", "value": "2011-03-07T14:05:09Z"},
   {"tag": "0x0E06", "type": "PT_SYSTIME", "value": "2011-03-07T14:05:10Z"}],
  "recipients": [{"type": 1, "name": "Bob Jones", "email": "bob@example.com"},
                 {"type": 2, "name": "Carol White", "email": "carol@example.com"}],
  "attachments": [{"filename": "numbers.csv", "pattern": {"size": 4096, "seed": 9}}]}]}}]}}
JSON
build-bench/convert/korvel-mkpst "$work/mail.json" "$work/mail.pst"
echo "== mail conversion (mbox) against readpst"
build-bench/bench/bench_convert "$work/mail.pst" "$work/convert"
echo "== writer"
build-bench/bench/bench_write "$work"
echo "== save (1 GB mailbox against cp and readpst)"
build-bench/bench/bench_save "$work" 1000
if [ -x build-bench/bench/window/bench_window ]; then
  echo "== window"
  QT_QPA_PLATFORM=offscreen build-bench/bench/window/bench_window
fi
