#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each from the seed books, with a fresh working
# corpus, and fails on the first crash, leak, timeout or broken invariant (the
# input is kept under BUILD/fuzz-artifacts/ for a regression test).
# Usage: fuzz/run.sh SECONDS [BUILD]   (BUILD defaults to build/fuzz)
set -euo pipefail
seconds=${1:?seconds per target}
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${2:-$root/build/fuzz}" && pwd)"
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The splice oracle takes the packing seeds: the same layout (flags, a payload, a book).
for target in open_book pack_files scan_vs_tree splice_oracle; do
  case $target in open_book | scan_vs_tree) seeds=book ;; pack_files | splice_oracle) seeds=pack ;; esac
  mkdir -p "$work/$target"
  echo "-- fuzz_$target for ${seconds} s"
  if ! "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=16384 -timeout=25 -print_final_stats=1 \
      -dict="$root/fuzz/fb2.dict" -artifact_prefix="$artifacts/" \
      "$work/$target" "$build/fuzz/seeds/$seeds" >"$work/$target.log" 2>&1; then
    tail -n 60 "$work/$target.log"
    echo "fuzz_$target found a failure; the input is in $artifacts" >&2
    exit 1
  fi
  grep -E '^#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb|^splice oracle:' "$work/$target.log" || true
done
