#!/usr/bin/env bash
# Installs the outside readers (pst-extractor, ical.js) into the build tree,
# at the versions the committed lock file pins. Run once, as the fixture the
# reader tests require: installs of one prefix running side by side leave a
# node_modules without some dependencies.
set -euo pipefail
: "${KORVEL_BINARY_DIR:?}" "${KORVEL_SOURCE_DIR:?}"
if ! command -v npm > /dev/null; then
    echo "npm is missing"
    exit 1
fi
source="$KORVEL_SOURCE_DIR/tests/readers"
readers="$KORVEL_BINARY_DIR/readers"
mkdir -p "$readers"
# An install from this very lock file is kept: the tests run offline after it.
if cmp -s "$source/package-lock.json" "$readers/installed-lock.json" \
        && [ -d "$readers/node_modules" ]; then
    exit 0
fi
rm -f "$readers/installed-lock.json"
cp "$source/package.json" "$source/package-lock.json" "$readers/"
npm ci --silent --no-audit --no-fund --prefix "$readers" > /dev/null
cp "$source/package-lock.json" "$readers/installed-lock.json"
