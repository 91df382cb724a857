#!/usr/bin/env bash
# Fuzzes what a server feeds the updater (src/core) with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer: the version-info text, a block map and the search with it, a
# multipart/byteranges answer, Content-Range and Retry-After.
#   scripts/fuzz.sh [RUNS] [TARGET...]   (default 10 million inputs each, every target)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib.sh"
trap_failures
out=${BUILD_DIR:-$root/build}/fuzz
runs=${1:-10000000}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(version_info block_map byteranges content_range retry_after)
"$root/scripts/bootstrap.sh"
for target in "${targets[@]}"; do
  mkdir -p "$out/corpus/$target"
  if [ "$target" = version_info ]; then seeds="$root/fuzz/corpus"; else seeds="$root/fuzz/seeds/$target"; fi
  cp -n "$seeds"/* "$out/corpus/$target/" 2>/dev/null || true
  clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I"$root/src" \
    "$root/fuzz/${target}_fuzz.cpp" "$root"/src/core/*.cpp -lz -o "$out/${target}_fuzz"
  echo "== $target"
  "$out/${target}_fuzz" -runs="$runs" -max_len=4096 -print_final_stats=1 -artifact_prefix="$out/${target}-" "$out/corpus/$target" 2>&1 |
    grep -E 'stat::number_of_executed_units|stat::peak_rss|ERROR|SUMMARY|Done' || true
done
