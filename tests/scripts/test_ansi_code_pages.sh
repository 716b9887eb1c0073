#!/usr/bin/env bash
# A 32-bit mailbox with 8-bit text in the code pages 1252, 1251, 1250, 932 and
# 936, and text whose code page is missing or unknown: the list, the preview
# header page, the saved copy (read by pffexport) and the EML, vCard and
# iCalendar conversions (read by Python's email package) show it right
# (tests/readers/check_code_pages.py).
set -euo pipefail
: "${KORVEL_BINARY_DIR:?}" "${KORVEL_SOURCE_DIR:?}"
work="$KORVEL_BINARY_DIR/scratch/ansi_code_pages"
rm -rf "$work"
python3 "$KORVEL_SOURCE_DIR/tests/readers/check_code_pages.py" \
    "$KORVEL_BINARY_DIR/tests/korvel-probe" "$KORVEL_BINARY_DIR/convert/korvel-mkpst" "$work"
