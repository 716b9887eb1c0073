#!/usr/bin/env bash
# korvel-probe preview on the sample mailbox: the files that previewing one
# e-mail with two attachments leaves in the working directory, kept as a
# golden file. The frameset page names the body file by its full path, which
# depends on where the temporary directory is: its bytes are made here
# independently (iconv) and its line is compared against them, then replaced
# by the placeholder the golden file keeps, as is the path in the navigate line.
set -euo pipefail
probe="$KORVEL_BINARY_DIR/tests/korvel-probe"
golden="$KORVEL_SOURCE_DIR/tests/golden/enron-preview-Personal-47.txt"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/korvel-probe-preview.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export TMPDIR="$scratch"
work="$scratch/korvel-$(id -u)/Attachments"

base="Top of Personal Folders/lokay-m/MLOKAY (Non-Privileged)"
actual=$("$probe" preview "$KORVEL_SAMPLES_DIR/enron.pst" "$base/Personal" 47)

utf16le() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE; }
frameset="<html><head></head><frameset rows='28%,*' border='0'><frame src='header.html'  scrolling='auto' frameborder='1'><frame src='$work/body.txt'></frameset></html>"
size=$(utf16le "$frameset" | wc -c)
hash=$(utf16le "$frameset" | sha256sum | cut -d' ' -f1)
actual=${actual//$'file\ttemp.html\t'$size$'\t'$hash/$'file\ttemp.html\t(frameset of body.txt)'}
actual=${actual//$work/WORKDIR}

# The header page read back as text names both attachments.
if ! iconv -f UTF-16LE -t UTF-8 "$work/header.html" |
    grep -qF "Attachment:</span>AreaHotels.doc;brooksidedirections.doc;</td> </tr></table></body></html>"; then
    echo "header page does not list the attachments" >&2
    exit 1
fi
# The body and the attachments are what an independent reader exports.
pffexport -q -t "$scratch/pff" "$KORVEL_SAMPLES_DIR/enron.pst" > /dev/null
exported="$scratch/pff.export/$base/Personal/Message00047"
cmp "$exported/Message.txt" "$work/body.txt"
cmp "$exported/Attachments/1_AreaHotels.doc" "$work/AreaHotels.doc"
cmp "$exported/Attachments/2_brooksidedirections.doc" "$work/brooksidedirections.doc"

if ! diff -u "$golden" <(printf '%s\n' "$actual"); then
    echo "korvel-probe preview differs from $(basename "$golden")" >&2
    exit 1
fi
echo "golden preview output matches"
