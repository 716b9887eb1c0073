#!/usr/bin/env bash
# Makes the seed mailboxes with our writer, then fuzzes the engine over them
# for SECONDS. usage: run_mailbox_fuzz.sh MKPST FUZZER SEEDS CORPUS SECONDS [NAME]
set -euo pipefail
mkpst=$1 fuzzer=$2 seeds=$3 corpus=$4 seconds=$5 name=${6:-$(basename "$fuzzer")}
mkdir -p "$corpus"
for json in "$seeds"/*.json; do
    "$mkpst" "$json" "$corpus/$(basename "$json" .json).pst"
done
exec "$fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=1048576 \
    -artifact_prefix="$PWD/$name-" "$corpus"
