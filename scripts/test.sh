#!/usr/bin/env bash
# Builds both targets and runs every test: native and its Debian package (checked by
# lintian), native with AddressSanitizer and UndefinedBehaviorSanitizer, the
# end-to-end tests under valgrind, a minute of fuzzing per fuzz target, and the
# 64-bit and 32-bit Windows DLLs under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
export WINEDEBUG=-all

echo "== native =="
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs"
ctest --preset native -j"$jobs"

echo "== Debian package (native), checked by lintian =="
rm -f build/native/vellum_*.deb
cmake --build --preset native --target deb >/dev/null
deb=(build/native/vellum_*_"$(dpkg --print-architecture)".deb)
dpkg-deb -c "${deb[0]}"
lintian --fail-on error --display-info "${deb[0]}"
echo "lintian: no error in ${deb[0]##*/}"

echo "== native-asan =="
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan -j"$jobs"
ctest --preset native-asan -j"$jobs"

echo "== valgrind memcheck of the end-to-end tests (native) =="
for t in open_archive_test listing_test extraction_test pack_files_test fuzz_findings_test; do
  echo "-- $t"
  valgrind -q --error-exitcode=1 --leak-check=full --suppressions=tests/valgrind.supp \
    "build/native/tests/$t" --gtest_brief=1
done
echo "-- vellum list, test, extract and replace on a copy of the sample book"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp samples/sample.fb2 "$work/" && printf 'new cover' > "$work/cover.png"
memcheck() { valgrind -q --error-exitcode=1 --leak-check=full build/native/vellum --quiet "$@" >/dev/null; }
memcheck list "$work/sample.fb2"
memcheck test "$work/sample.fb2"
memcheck extract "$work/sample.fb2" -o "$work/out"
memcheck replace "$work/sample.fb2" "$work/cover.png"

echo "== fuzz (60 s per target) =="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
bash fuzz/run.sh 60 build/fuzz

echo "== windows (under Wine) =="
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"
wineboot --init >/dev/null 2>&1 || true
ctest --preset windows -j"$jobs"

echo "== windows32 (under 32-bit Wine) =="
cmake --preset windows32 >/dev/null
cmake --build --preset windows32 -j"$jobs"
# The same Wine prefix runs the 32-bit programs (WoW64). One made before 32-bit Wine
# was installed lacks its 32-bit half; an update through the 64-bit loader adds it.
prefix=${WINEPREFIX:-$HOME/.wine}
if [ ! -f "$prefix/drive_c/windows/syswow64/kernel32.dll" ]; then
  rm -f "$prefix/.update-timestamp"
  /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
fi
ctest --preset windows32 -j"$jobs"
# Both DLLs are built now: the zip Total Commander installs from.
cmake --build --preset windows32 --target package
