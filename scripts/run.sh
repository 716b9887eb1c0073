#!/usr/bin/env bash
# Installs what is needed, builds the program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEL_TESTS=OFF -DKORVEL_BENCH=OFF
cmake --build build -j2 --target korvel-pst-repair
# Help > Content opens KorvelHelp.chm in the directory the program starts in:
# start it where the build put the guide.
mkdir -p build/help
cd build/help
exec ../app/korvel-pst-repair
