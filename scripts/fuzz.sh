#!/usr/bin/env bash
# Fuzzes the version-info text work (src/core) with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer.   scripts/fuzz.sh [RUNS]   (default 10 million inputs)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib.sh"
trap_failures
out=${BUILD_DIR:-$root/build}/fuzz
runs=${1:-10000000}
"$root/scripts/bootstrap.sh"
mkdir -p "$out/corpus"
cp -n "$root"/fuzz/corpus/* "$out/corpus/" 2>/dev/null || true
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I"$root/src" \
  "$root/fuzz/version_info_fuzz.cpp" "$root"/src/core/*.cpp -lz -o "$out/version_info_fuzz"
"$out/version_info_fuzz" -runs="$runs" -max_len=4096 -print_final_stats=1 "$out/corpus" 2>&1 |
  grep -E 'stat::number_of_executed_units|stat::peak_rss|ERROR|SUMMARY|Done' || true
