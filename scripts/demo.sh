#!/usr/bin/env bash
# The demo: installs what is missing, builds BrinsoUpdator.exe for local servers and runs it under Wine.
# With no DISPLAY it runs on a virtual display, saves a screenshot and closes the dialog as a user would;
# with a DISPLAY it runs there and waits for you to press the stop button.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}/demo
"$root/scripts/bootstrap.sh"

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DUPDATER_TESTS=OFF -DUPDATER_SERVER_HOST=127.0.0.2 -DUPDATER_STATS_HOST=127.0.0.3 >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
exe="$build/src/BrinsoUpdator.exe"

own_display=${DISPLAY:-}
"$root/scripts/wine-env.sh" up "$build/wine" >/dev/null
trap '"$root/scripts/wine-env.sh" down "$build/wine"' EXIT
eval "$("$root/scripts/wine-env.sh" env "$build/wine")"
[ -n "$own_display" ] && export DISPLAY=$own_display

wine "$exe" >/dev/null 2>&1 </dev/null &
app=$!
if [ -n "$own_display" ]; then
  echo "BrinsoUpdator runs on $DISPLAY; press its stop button to end it."
  wait $app || true
else
  sleep 4
  shot="$build/dialog.png"
  import -window root -crop 440x250+292+259 "png:$shot" 2>/dev/null || import -window root "png:$shot"
  echo "screenshot of the dialog: $shot"
  wine taskkill /IM BrinsoUpdator.exe >/dev/null 2>&1 || true  # a close request, as from the taskbar
  wait $app || true
fi
flag=$(wine reg query 'HKLM\SOFTWARE\Yelvan\Marrowtide' /v Update_Flag 2>/dev/null | tr -d '\r' | awk '/Update_Flag/ {print $3}')
echo "Update_Flag after the dialog closed: ${flag:-<none>}"
