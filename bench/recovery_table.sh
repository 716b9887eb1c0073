#!/usr/bin/env bash
# The recovery table: damaged copies of the sample mailbox and of a
# writer-made one, each converted to single messages by Korvel
# (korvel-probe convert ... eml), readpst (-D -e -j 0) and pffexport
# (-m all); "could survive" counts the intact file's messages whose blocks
# all lie in the bytes left (the cuts), else all of them; "whole" counts
# Korvel's messages byte-identical to one of the intact file's (nothing of
# them lost: body, recipients, attachments). Then the rebuild of
# a 1 GB writer-made mailbox with its root pages zeroed, against cp.
#   bash bench/recovery_table.sh BUILD_DIR [WORKDIR]
# RECOVERY_BIG=0 leaves out the 1 GB run.
set -euo pipefail
build=$(realpath "${1:?usage: recovery_table.sh BUILD_DIR [WORKDIR]}")
work=${2:-$build/recovery-bench}
probe="$build/tests/korvel-probe"
mkpst="$build/convert/korvel-mkpst"
mkdir -p "$work"
cd "$work"

classes="cut-50 cut-90 node-root block-root both-roots header-pointers contents-tables bit-flips hole node-pages"

# A writer-made mailbox: three folders, mail with recipients and attachments.
cat > writer.json <<'JSON'
{"top_of_personal_folders": true, "top": {"folders": [
  {"name": "Inbox", "messages": [{"subject": "Inbox {n}", "body": "Body {n}", "repeat": 120,
    "recipients": [{"type": 1, "name": "Bob", "email": "bob@example.com"}],
    "attachments": [{"filename": "a.bin", "pattern": {"size": 20000, "seed": 3}}]}]},
  {"name": "Sent", "messages": [{"subject": "Sent {n}", "body": "Sent body {n}", "repeat": 60}]},
  {"name": "Archive", "folders": [{"name": "2024", "messages": [
    {"subject": "Old {n}", "html": "<p>old {n}</p>", "repeat": 40}]}]}]}}
JSON
"$mkpst" writer.json writer.pst > /dev/null
cp "$build/samples/enron.pst" enron.pst

count_korvel() { # FILE OUT
    rm -rf "$2"
    "$probe" convert "$1" eml "$2" > "$2.txt" 2>&1 || true
    [ -d "$2" ] && find "$2" -type f -name '*.eml' | wc -l || echo 0
}
count_readpst() { # FILE OUT
    rm -rf "$2"
    mkdir -p "$2"
    timeout 600 readpst -D -e -j 0 -q -o "$2" "$1" > "$2.txt" 2>&1 || true
    find "$2" -type f | wc -l
}
count_pffexport() { # FILE OUT
    rm -rf "$2".*
    timeout 600 pffexport -m all -q -t "$2" "$1" > "$2.txt" 2>&1 || true
    find "$2".* -maxdepth 0 -type d > /dev/null 2>&1 || { echo 0; return; }
    find "$2".* -type d -name 'Message*' -not -path '*/Attachments/*' 2>/dev/null | wc -l
}
eml_digests() { # OUT (MIME boundaries are drawn at random: left out)
    find "$1" -type f -name '*.eml' -print0 2>/dev/null |
        while IFS= read -r -d '' eml; do
            sed -E 's/=_korvel_[0-9a-f]+_[0-9a-f]+/=_korvel_/g' "$eml" | md5sum | awk '{ print $1 }'
        done | sort
}
count_whole() { # OUT (against intact.md5)
    eml_digests "$1" > damaged.md5
    grep -cFxf intact.md5 damaged.md5 || true
}
could_survive() { # INTACT DAMAGED CLASS
    local size
    size=$(stat -c %s "$2")
    case "$3" in
    cut-*) "$probe" message-ends "$1" | awk -v s="$size" '$3 > 0 && $3 <= s' | wc -l ;;
    *) "$probe" message-ends "$1" | wc -l ;;
    esac
}

total_k=0 total_w=0 total_r=0 total_c=0 short=0
for mailbox in enron writer; do
    echo
    echo "$mailbox.pst ($(stat -c %s "$mailbox.pst") bytes)"
    echo "| damage | Korvel | whole | readpst | pffexport | could survive |"
    echo "|---|---|---|---|---|---|"
    for class in intact $classes; do
        damaged="$mailbox-$class.pst"
        if [ "$class" = intact ]; then
            cp "$mailbox.pst" "$damaged"
        else
            "$probe" damage "$mailbox.pst" "$class" "$damaged"
        fi
        k=$(count_korvel "$damaged" "out-$mailbox-$class-korvel")
        if [ "$class" = intact ]; then
            eml_digests "out-$mailbox-$class-korvel" > intact.md5
        fi
        w=$(count_whole "out-$mailbox-$class-korvel")
        r=$(count_readpst "$damaged" "out-$mailbox-$class-readpst")
        p=$(count_pffexport "$damaged" "out-$mailbox-$class-pffexport")
        c=$(could_survive "$mailbox.pst" "$damaged" "$class")
        echo "| $class | $k | $w | $r | $p | $c |"
        if [ "$class" != intact ]; then
            total_k=$((total_k + k)) total_w=$((total_w + w)) total_r=$((total_r + r)) total_c=$((total_c + c))
            if [ $((k * 10)) -lt $((c * 9)) ] || [ "$k" -lt "$r" ]; then
                short=$((short + 1))
            fi
        fi
    done
done
echo
echo "over all damaged copies: Korvel $total_k (whole $total_w), readpst $total_r, could survive $total_c;" \
     "classes below 90% or below readpst: $short"

if [ "${RECOVERY_BIG:-1}" = 1 ]; then
    cat > big.json <<'JSON'
{"top_of_personal_folders": true, "top": {"folders": [
  {"name": "Big", "messages": [{"subject": "Big {n}", "body": "Body {n}", "repeat": 1000,
    "attachments": [{"filename": "data.bin", "pattern": {"size": 1048576, "seed": 5}}]}]}]}}
JSON
    [ -f big.pst ] || "$mkpst" big.json big.pst > /dev/null
    "$probe" damage big.pst both-roots big-damaged.pst
    rm -f big.pst
    cat big-damaged.pst > /dev/null # both runs start from the page cache
    start=$(date +%s.%N)
    cp big-damaged.pst big-copy.pst
    end=$(date +%s.%N)
    rm -f big-copy.pst
    cp_seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
    /usr/bin/time -f "%e %M" -o big-time.txt "$probe" check big-damaged.pst > big-check.txt
    read -r rebuild_seconds peak_kb < big-time.txt
    echo
    echo "1 GB rebuild ($(stat -c %s big-damaged.pst) bytes, both roots zeroed):" \
         "cp ${cp_seconds}s, rebuild ${rebuild_seconds}s," \
         "ratio $(awk -v a="$rebuild_seconds" -v b="$cp_seconds" 'BEGIN { printf "%.2f", a / b }')," \
         "peak memory $((peak_kb / 1024)) MB"
    grep -E "^(nodes rebuilt|blocks rebuilt|items)	" big-check.txt | tr '\t' ' '
fi
