#!/usr/bin/env bash
# The 32-bit layout's size limit: a mailbox written past 2 GB, read whole by
# an outside reader (pffinfo, pffexport's item count) and by our scan and
# save; then the same file cut short at 1.5 GB (its header still says more),
# which must open and save what it still holds. Prints sizes, counts, wall
# seconds and peak memory. Needs about 7 GB of free space in WORKDIR.
#   bash bench/ansi_2gb.sh BUILD_DIR [WORKDIR]
set -euo pipefail
build=$(cd "${1:?usage: ansi_2gb.sh BUILD_DIR [WORKDIR]}" && pwd)
work=${2:-$build/bench-ansi-2gb}
mkdir -p "$work"
cd "$work"

# 230 messages with a 10 MB attachment each: about 2.3 GB.
cat > big.json <<'JSON'
{"format": "ansi", "code_page": 1251, "folders": [{"name": "Big", "messages": [
  {"subject": "Вложение {n}", "body": "Тело письма", "repeat": 230,
   "properties": [{"tag": "0x3FFD", "type": "PT_LONG", "value": 1251},
                  {"tag": "0x0E07", "type": "PT_LONG", "value": 1}],
   "attachments": [{"filename": "data.bin", "pattern": {"size": 10000000, "seed": 7}}]}]}]}
JSON

measure() { # LABEL COMMAND...: wall seconds and peak resident memory
  local label=$1
  shift
  /usr/bin/time -f "$label: %e s, peak %M KiB" "$@" > /dev/null
}

measure "write" "$build/convert/korvel-mkpst" big.json big.pst
echo "size: $(stat -c %s big.pst) bytes"
pffinfo big.pst | grep "File type"

measure "scan and list" "$build/tests/korvel-probe" list big.pst "Big"
echo "listed: $("$build/tests/korvel-probe" list big.pst "Big" | grep -c '^row')"
rm -f copy.pst
measure "save" "$build/tests/korvel-probe" save big.pst copy.pst
echo "saved copy: $(stat -c %s copy.pst) bytes"

# Cut short past the middle, as a file that grew past the limit is: the
# B-trees (written last) are gone, the messages before the cut are there.
# What the scan and the save still find is printed; they must end cleanly.
head -c 1500000000 big.pst > cut.pst
rm -f big.pst copy.pst
measure "scan cut file" "$build/tests/korvel-probe" tree cut.pst || true
echo "folders in the cut file: $("$build/tests/korvel-probe" tree cut.pst | grep -c '^item' || true)"
measure "save cut file" "$build/tests/korvel-probe" save cut.pst cut-copy.pst || true
"$build/tests/korvel-probe" save cut.pst cut-copy2.pst | grep -E '^(items|recovered|unreadable)' || true
rm -f cut.pst cut-copy.pst cut-copy2.pst
