#!/usr/bin/env bash
# Unpacks the sample mailboxes of a registry package into the given folder:
# enron.pst (a real PST) and two offline stores.
set -euo pipefail
dest=${1:?usage: fetch-samples.sh DIR}
mkdir -p "$dest"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && npm pack --silent pst-extractor@1.12.0 >/dev/null)
tar -xzf "$work"/pst-extractor-1.12.0.tgz -C "$work"
cp "$work"/package/example/testdata/*.pst "$work"/package/example/testdata/*.ost "$dest"/
ls "$dest"/enron.pst >/dev/null
