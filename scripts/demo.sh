#!/usr/bin/env bash
# The README's first command: installs what is missing, builds the native target
# (build/native) and lets the vellum command list the sample book and extract its
# pictures into a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

echo "== building (build/native) =="
cmake --preset native >/dev/null
cmake --build --preset native -j"$(nproc)" --target vellum

vellum=build/native/vellum
book=samples/sample.fb2
out=$(mktemp -d "${TMPDIR:-/tmp}/vellum-demo-XXXXXX")

echo
echo "== $vellum list $book =="
"$vellum" list "$book"

echo
echo "== $vellum extract $book -o $out =="
"$vellum" extract "$book" -o "$out"

echo
echo "== ls -l $out =="
ls -l "$out"
echo
echo "files.bbs, the index the plug-in generates:"
cat "$out/files.bbs"
echo
echo "The pictures are in $out (remove it with: rm -r $out)."
