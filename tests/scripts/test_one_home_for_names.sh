#!/usr/bin/env bash
# The product's MAPI property tags, named-property identifiers and value types
# each have one definition, in scan/names.h, so that two folders can never
# disagree on a number; and that header includes only the standard library, so
# the writer (which must not see libpff) can take its names from it too.
set -euo pipefail
cd "${KORVEL_SOURCE_DIR:?}"
status=0

# A name of one of those kinds given a number anywhere else.
elsewhere=$(grep -rnE '\b(tag|lid|value_type)_[a-z_0-9]+[[:space:]]*=[[:space:]]*0x' \
  app cli convert format preview scan --include='*.h' --include='*.cpp' |
  grep -v '^scan/names\.h:' || true)
if [ -n "$elsewhere" ]; then
  echo "defined outside scan/names.h:"
  echo "$elsewhere"
  status=1
fi

# One name per number within each kind.
twice=$(grep -oE '\b(tag|lid|value_type)_[a-z_0-9]+ = 0x[0-9A-Fa-f]+' scan/names.h |
  sed -E 's/^(tag|lid|value_type)_[a-z_0-9]+ = /\1 /' | sort | uniq -d)
if [ -n "$twice" ]; then
  echo "numbers named twice in scan/names.h:"
  echo "$twice"
  status=1
fi

# Standard headers only (no ".h", no directory).
foreign=$(grep -E '^[[:space:]]*#[[:space:]]*include' scan/names.h |
  grep -vE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<[a-z_]+>' || true)
if [ -n "$foreign" ]; then
  echo "scan/names.h includes more than the standard library:"
  echo "$foreign"
  status=1
fi
exit $status
