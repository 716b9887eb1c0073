#!/usr/bin/env bash
# korvel-probe on the sample mailbox prints what the tests assert: the tree
# and the lists of its folders, kept as golden files.
set -euo pipefail
probe="$KORVEL_BINARY_DIR/tests/korvel-probe"
golden="$KORVEL_SOURCE_DIR/tests/golden"
cd "$KORVEL_SAMPLES_DIR"

check() {
    local expected=$1
    shift
    if ! diff -u "$golden/$expected" <("$probe" "$@"); then
        echo "korvel-probe $* differs from $expected" >&2
        exit 1
    fi
}

check enron-tree.txt tree enron.pst
base="Top of Personal Folders/lokay-m/MLOKAY (Non-Privileged)"
check enron-list-Personal.txt list enron.pst "$base/Personal"
check enron-list-Sent-Items.txt list enron.pst "$base/Sent Items"
check enron-list-Systems.txt list enron.pst "$base/Systems"
check enron-list-TW-Commercial-Group.txt list enron.pst "$base/TW-Commercial Group"
check enron-list-Deleted-Items.txt list enron.pst "Top of Personal Folders/Deleted Items"
echo "golden probe output matches"
