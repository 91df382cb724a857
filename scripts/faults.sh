#!/usr/bin/env bash
# Runs the fault matrix (whole runs of the real program under faults) and writes docs/faults.md: each case
# with its verdict on the invariants below.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}/win
"$root/scripts/bootstrap.sh"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DUPDATER_SERVER_HOST=127.0.0.2 -DUPDATER_STATS_HOST=127.0.0.3 >/dev/null
cmake --build "$build" -j "$(nproc)" --target updater_dialog_tests BrinsoUpdator standin >/dev/null
"$root/scripts/wine-env.sh" up "$build/faults-wine" >/dev/null
trap '"$root/scripts/wine-env.sh" down "$build/faults-wine"' EXIT
out=$("$root/scripts/wine-env.sh" exec "$build/faults-wine" "$build/tests/updater_dialog_tests.exe" \
  --gtest_filter='FaultTest.*' 2>/dev/null | tr -d '\r') || true
{
  echo "# Fault matrix"
  echo
  echo "Written by \`scripts/faults.sh\` on $(date -u +%Y-%m-%d) ($(wine --version 2>/dev/null || echo wine))."
  echo "Each case is a whole run of BrinsoUpdator.exe with a product already installed (a.dll, gdb\\\\b.gdb,"
  echo "Tessvane.exe, each recorded as version 1) against a scripted server on loopback. After every case:"
  echo
  echo "- no installed file deleted, truncated, or replaced by anything but the complete listed file;"
  echo "- no version recorded for a file that was not placed;"
  echo "- no file written outside the temp folder and the install folder (C:\\\\, Program Files, the Windows and"
  echo "  system folders unchanged; no file at the paths hostile names point to);"
  echo "- \"Update_Flag\" = \"YES\" (except where the product key refuses every write);"
  echo "- the process ended within 1 s of a stop, and no process of ours is left running."
  echo
  echo "| case | result |"
  echo "|---|---|"
  grep -P '^CASE\t' <<<"$out" | awk -F'\t' '{ printf "| %s | %s |\n", $2, $3 }'
} > "$root/docs/faults.md"
grep -cP '^CASE\t.*\tok$' <<<"$out" | xargs -I{} echo "{} of $(grep -cP '^CASE\t' <<<"$out") cases hold every invariant"
