#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the program need.
# Idempotent; run as root on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  googletest libgtest-dev
  qt6-base-dev qt6-webengine-dev libgl-dev
  libpff-dev libbfio-dev pff-tools
  nlohmann-json3-dev zlib1g-dev
  pst-utils
  libgmime-3.0-dev libical-dev
  fp-utils xchm libchm1
  desktop-file-utils appstream shared-mime-info xdg-utils libglib2.0-bin
  python3 python3-dateutil
  scdoc bash-completion
  xvfb
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# Node.js runs the independent mailbox reader used by the tests; a machine
# that already has node and npm (from any source) keeps them.
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  missing+=(nodejs npm)
fi

if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
