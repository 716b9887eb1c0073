#!/usr/bin/env bash
# Builds and runs the speed and memory benchmarks (not part of the test
# command: the big mailboxes take minutes to read back through libpff).
#   bash scripts/bench.sh [WORKDIR]
# BENCH_SIZES lists the folder sizes to measure (default "20000 100000");
# BENCH_CMAKE_ARGS is added to the configure step (-DKORVEL_GUI=OFF, say);
# BENCH_SKIP_SETUP=1 leaves out the package installation; BENCH_READER_TIMEOUT
# bounds each outside reader's run (seconds, default 3600). The listing and the
# save run with our libpff and, on the same files, with the system's
# (build-bench-system); the system's is quadratic in a folder's size, so it
# runs at sizes up to BENCH_SYSTEM_MAX (default 100000), each bounded by
# BENCH_SYSTEM_TIMEOUT seconds (default 600).
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-build-bench/data}
sizes=${BENCH_SIZES:-20000 100000}

if [ "${BENCH_SKIP_SETUP:-0}" != 1 ]; then
  bash scripts/setup.sh
fi
# shellcheck disable=SC2086 # BENCH_CMAKE_ARGS is a list of arguments
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release ${BENCH_CMAKE_ARGS:-}
cmake --build build-bench -j2
cmake -S . -B build-bench-system -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVEL_GUI=OFF \
  -DKORVEL_TESTS=OFF -DKORVEL_SYSTEM_LIBPFF=ON
cmake --build build-bench-system -j2 --target bench_list bench_save
mkdir -p "$work"

seconds() { # COMMAND...: wall seconds of one run, output dropped
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }' 
}

for n in $sizes; do
  # n e-mails in one folder, written by our own writer.
  cat > "$work/big-$n.json" <<JSON
{"folders": [{"name": "Big", "messages": [{"subject": "Message {n}", "properties": [
 {"tag": "0x0C1A", "type": "PT_UNICODE", "value": "Ann Smith"},
 {"tag": "0x0C1F", "type": "PT_UNICODE", "value": "ann@example.com"},
 {"tag": "0x0E07", "type": "PT_LONG", "value": 1},
 {"tag": "0x0E08", "type": "PT_LONG", "value": 2048},
 {"tag": "0x0E06", "type": "PT_SYSTIME", "value": "2011-03-07T14:05:09Z"},
 {"tag": "0x0017", "type": "PT_LONG", "value": 1}], "repeat": $n}]}]}
JSON
  pst="$work/big-$n.pst"
  build-bench/convert/korvel-mkpst "$work/big-$n.json" "$pst"
  mkdir -p "$work/scratch-$n"

  echo "== listing a folder of $n e-mails: libpff, our engine, the open-source readers"
  build-bench/bench/bench_list "$pst" Big 1 "$work/scratch-$n" | tee "$work/list-$n.txt"
  if [ "$n" -le "${BENCH_SYSTEM_MAX:-100000}" ]; then
    timeout "${BENCH_SYSTEM_TIMEOUT:-600}" build-bench-system/bench/bench_list "$pst" Big 1 ||
      echo "the system's libpff: not finished within ${BENCH_SYSTEM_TIMEOUT:-600} s"
  fi
  if [ -x build-bench/tests/korvel-probe ] && [ "$n" -le 20000 ]; then
    # The probe's list less its scan: what the recording views add to a fill.
    tree=$(seconds build-bench/tests/korvel-probe tree "$pst")
    list=$(seconds build-bench/tests/korvel-probe list "$pst" Big)
    bare=$(awk '/^bare per-index loop/ {print $4}' "$work/list-$n.txt")
    awk -v t="$tree" -v l="$list" -v b="$bare" 'BEGIN {
      printf "korvel-probe list less its scan %9.3f s (%.3f of the bare loop; target <= 0.5)\n",
        l - t, (l - t) / b }' 
  fi
  rm -rf "$work/scratch-$n"
done

echo "== preview of an e-mail with two attachments"
build-bench/bench/bench_preview "$work"
# 20,000 e-mails in 40 folders for the mail conversion: sender, recipients,
# plain and HTML bodies, a small attachment on every message.
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
build-bench/bench/bench_save "$work" 1000 build-bench-system/bench/bench_save
if [ -x build-bench/bench/window/bench_window ]; then
  echo "== window"
  QT_QPA_PLATFORM=offscreen build-bench/bench/window/bench_window
fi
