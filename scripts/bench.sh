#!/usr/bin/env bash
# Benchmarks (figures, not tests), each measured in one run under Wine on loopback.
#   1. Download of a 4 MiB file: wall time / pacing floor (1024 chunks x 10 ms), CPU time / wall time,
#      and the same file fetched by curl for reference.
#   6. Size of the Release BrinsoUpdator.exe, and the DLLs it needs that are not the system's.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}/bench
"$root/scripts/bootstrap.sh"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DUPDATER_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target download_bench BrinsoUpdator >/dev/null

address=127.0.0.41
mkdir -p "$build/release/update/db"
head -c $((4 * 1024 * 1024)) /dev/urandom > "$build/release/update/db/bench.bin"
"$root/scripts/nginx.sh" start "$build/nginx" "$address" "$build/release"
"$root/scripts/wine-env.sh" up "$build/wine" >/dev/null
cleanup() { "$root/scripts/wine-env.sh" down "$build/wine"; "$root/scripts/nginx.sh" stop "$build/nginx"; }
trap cleanup EXIT
eval "$("$root/scripts/wine-env.sh" env "$build/wine")"

out=$(wine "$build/bench/download_bench.exe" "$address" /update/db/bench.bin 'C:\windows\temp\bench.bin' </dev/null 2>/dev/null | tr -d '\r')
cmp -s "$build/release/update/db/bench.bin" "$WINEPREFIX/drive_c/windows/temp/bench.bin" || { echo "downloaded bytes differ"; exit 1; }
wall=$(sed -n 's/.*wall=\([0-9.]*\).*/\1/p' <<<"$out")
cpu=$(sed -n 's/.*cpu=\([0-9.]*\).*/\1/p' <<<"$out")
curl_wall=$(curl -s -o /dev/null -w '%{time_total}' "http://$address/update/db/bench.bin")

echo "machine: $(nproc) cores, $(uname -m), $(date -u +%Y-%m-%d)"
awk -v w="$wall" -v c="$cpu" -v cw="$curl_wall" 'BEGIN {
  floor = 1024 * 0.010
  printf "download 4 MiB: wall %.3f s, pacing floor %.3f s, ratio %.3f (goal <= 1.03)\n", w, floor, w / floor
  printf "download 4 MiB: cpu %.3f s, cpu/wall %.1f %% (goal <= 5 %%)\n", c, 100 * c / w
  printf "curl, same file: wall %.3f s\n", cw
}'
exe="$build/src/BrinsoUpdator.exe"
system_dlls='^(ADVAPI32|COMCTL32|GDI32|KERNEL32|msvcrt|SHELL32|SHLWAPI|USER32|ole32|OLEAUT32|WININET|netapi32|WS2_32)\.dll$'
others=$(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name/ {print $3}' | grep -viE "$system_dlls" || true)
awk -v b="$(stat -c %s "$exe")" 'BEGIN { printf "BrinsoUpdator.exe: %d bytes = %.2f MiB (goal <= 1 MiB)\n", b, b / 1048576 }'
echo "DLLs needed beside it: ${others:-none} (goal: none)"
