#!/usr/bin/env bash
# Builds both targets and runs every test: native, native with AddressSanitizer and
# UndefinedBehaviorSanitizer, and the Windows DLL under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
export WINEDEBUG=-all

echo "== native =="
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs"
ctest --preset native -j"$jobs"

echo "== native-asan =="
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan -j"$jobs"
ctest --preset native-asan -j"$jobs"

echo "== windows (under Wine) =="
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"
wineboot --init >/dev/null 2>&1 || true
ctest --preset windows -j"$jobs"
