#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: once in the ordinary
# build (window side included, offscreen; our patched libpff), once under
# AddressSanitizer and UndefinedBehaviorSanitizer with the fuzz targets
# (window side off; the system's libpff, compared there with ours).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEL_WERROR=ON
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2 --timeout 600

CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DKORVEL_GUI=OFF -DKORVEL_BENCH=OFF -DKORVEL_SANITIZE=ON -DKORVEL_FUZZ=ON -DKORVEL_WERROR=ON \
  -DKORVEL_SYSTEM_LIBPFF=ON -DKORVEL_OTHER_PROBE="$PWD/build/tests/korvel-probe"
cmake --build build-asan -j2
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j2 --timeout 900
