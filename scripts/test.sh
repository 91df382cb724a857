#!/usr/bin/env bash
# The test command: installs what is missing, builds natively (with sanitizers) and for Windows, runs
# every test (native ones directly, Windows ones under Wine on a virtual display), and stops what it started.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
jobs=${JOBS:-$(nproc)}

source "$root/scripts/lib.sh"
trap_failures
"$root/scripts/bootstrap.sh" || die "the packages the build and the tests need could not be installed (see above)"

# The tests run their own servers on loopback port 80 (127.0.0.2 and others); a server already listening
# there, or on every address (a system nginx started by its package), would take those addresses.
for address in 127.0.0.2 127.0.0.3 127.0.0.4 127.0.0.6; do require_port80_free $address; done

echo "== native build (core, sanitizers)"
cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug -DUPDATER_SANITIZE=ON >/dev/null
cmake --build "$build/native" -j "$jobs"

target=$(windows_target)
note_windows_target
echo "== windows build (BrinsoUpdator.exe and its tests for $target, loopback hosts)"
cmake -S "$root" -B "$build/win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$target.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DUPDATER_SERVER_HOST=127.0.0.2 -DUPDATER_STATS_HOST=127.0.0.3 -DUPDATER_HEALTH_WINDOW_S=2 -DUPDATER_SLOW_SERVER_S=15 \
  -DUPDATER_RELEASE_TOOL="$build/native/tools/release/marrowtide-release" >/dev/null
cmake --build "$build/win" -j "$jobs"
if [ "$target" != i686-w64-mingw32 ]; then
  # Its tests too, built and not run: what compiles for one target may not for the other (a thread
  # routine's calling convention is the 32-bit build's alone).
  echo "== the shipped 32-bit BrinsoUpdator.exe and its tests (built, not run: this machine cannot run them)"
  cmake -S "$root" -B "$build/win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DUPDATER_SERVER_HOST=127.0.0.2 -DUPDATER_STATS_HOST=127.0.0.3 -DUPDATER_HEALTH_WINDOW_S=2 -DUPDATER_SLOW_SERVER_S=15 \
    -DUPDATER_RELEASE_TOOL="$build/native/tools/release/marrowtide-release" >/dev/null
  cmake --build "$build/win32" -j "$jobs"
  i686-w64-mingw32-objdump -f "$build/win32/src/BrinsoUpdator.exe" | grep -q 'file format pei-i386' ||
    die "$build/win32/src/BrinsoUpdator.exe is not a 32-bit Windows program"
fi

status=0
rm -f "$build"/{native,win}/Testing/Temporary/LastTestsFailed.log
echo "== native tests"
ctest --test-dir "$build/native" -j "$jobs" --output-on-failure || status=1
if [ "$target" = i686-w64-mingw32 ]; then ran="the shipped 32-bit build, under the 32-bit Wine"
else ran="the 64-bit build of the same sources, under the 64-bit Wine"; fi
echo "== windows tests under Wine: $ran"
# The Wine environment is a CTest fixture: it comes up before the first Windows test and goes down after
# the last, also when a test fails.
ctest --test-dir "$build/win" -j "$jobs" --output-on-failure || status=1
# A failed test's output again at the very end, where a CI log that keeps only its tail still shows it.
if [ "$status" != 0 ]; then
  for dir in "$build/native" "$build/win"; do
    failed=$dir/Testing/Temporary/LastTestsFailed.log
    [ -s "$failed" ] || continue
    awk 'FNR == NR { sub(/^[0-9]+:/, ""); failed[$0] = 1; next }
         /^[0-9]+\/[0-9]+ Test: / { name = $3; n = 0 }
         /^<end of output>$/ { if (name in failed) { printf "== the last lines of the failed test %s\n", name
                                                    for (i = (n > 40 ? n - 40 : 1); i <= n; ++i) print l[i] }
                               name = "" }
         name != "" && seen_output { l[++n] = $0 }
         /^Output:$/ { seen_output = 1 } /^<end of output>$/ { seen_output = 0 }' "$failed" "$dir/Testing/Temporary/LastTest.log"
  done
fi

# Screenshots taken by the tests, as PNG for people to look at.
for bmp in "$build"/win/screenshots/*.bmp; do
  [ -e "$bmp" ] && /usr/bin/convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
[ -d "$build/win/screenshots" ] && echo "screenshots: $build/win/screenshots"
exit $status
