#!/usr/bin/env bash
# The demo: whole update runs of BrinsoUpdator.exe under Wine against a local update server.
#  - builds the vendor's publishing tool, makes a release key with it (once per build folder), and builds the
#    program with that key for the servers 127.0.0.2 (updates) and 127.0.0.3 (statistics), and our stand-ins
#    for the product's programs;
#  - publishes a signed sample release with the tool (scripts/make-release.sh), checks it, serves it with
#    nginx (server/nginx.conf.in) and starts a listener for the statistics report;
#  - installs nothing but the stand-in programs, starts them, runs the updater on a virtual display (or on
#    $DISPLAY when set): a first run, a second that finds everything current, a third after one file of
#    the release changed and was published again, and a fourth after the main database changed a little
#    (it comes by blocks); saves screenshots and prints what each run changed;
#  - stops everything it started.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}/demo
update_host=127.0.0.2
stats_host=127.0.0.3
source "$root/scripts/lib.sh"
trap_failures
"$root/scripts/bootstrap.sh" || die "the packages the demo needs could not be installed (see above)"
# Once more with the packages and locales in place: a shell started before the Korean locale was made
# cannot switch to it.
[ -n "${DEMO_BOOTSTRAPPED:-}" ] || DEMO_BOOTSTRAPPED=1 exec "$0" "$@"
note_windows_target
require_port80_free $update_host
require_port80_free $stats_host

echo "== building the publishing tool and a release key"
tool=$(build_release_tool "$build-tool")
key="$build-key/release-key.pem"
if [ ! -f "$key" ]; then
  mkdir -p "$(dirname "$key")"
  "$tool" keygen "$key" > "$build-key/release-key.txt" || die "no release key could be made"
  sed -n '/BEGIN PUBLIC KEY/,/END PUBLIC KEY/p' "$build-key/release-key.txt" > "$build-key/release-key.pub"
fi
echo "   key: $key ($(grep KEYID "$build-key/release-key.txt"))"

echo "== building the program with that key"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$(windows_target).cmake" -DCMAKE_BUILD_TYPE=Release \
  -DUPDATER_TESTS=ON -DUPDATER_SERVER_HOST=$update_host -DUPDATER_STATS_HOST=$stats_host -DUPDATER_HEALTH_WINDOW_S=5 \
  -DUPDATER_RELEASE_KEYS="$build-key/release-key.pub" >/dev/null
cmake --build "$build" -j "$(nproc)" --target BrinsoUpdator standin regprobe linktarget >/dev/null
exe="$build/src/BrinsoUpdator.exe"

echo "== sample release, update server (nginx on $update_host:80), statistics listener ($stats_host:80)"
rm -rf "$build/release"
"$root/scripts/make-release.sh" "$build/release" "$update_host" "$build/tests/standin.exe" "$build/tests/regprobe.dll" \
  "$tool" "$key"
signed() {
  "$tool" verify "$build/release" --key "$build-key/release-key.pub" | sed 's/^/   /'
  for f in update/db/DBUpdate.ver marrowtide/MarrowtideWeb.ver; do
    echo "   $f: $(grep -a '^#serial' "$build/release/$f" | tr -d '\r'), signed by $(grep -a '^#signature' "$build/release/$f" | cut -d' ' -f2)"
  done
}
signed
"$root/scripts/nginx.sh" start "$build/nginx" "$update_host" "$build/release"
rm -f "$build/stats.log"
python3 "$root/scripts/stats-listener.py" "$stats_host" "$build/stats.log" </dev/null >/dev/null 2>"$build/stats.err" &
listener=$!
sleep 0.3
kill -0 $listener 2>/dev/null || die "the statistics listener on $stats_host:80 did not start: $(tail -1 "$build/stats.err")"
own_display=${DISPLAY:-}
cleanup() {
  kill "$listener" 2>/dev/null || true
  "$root/scripts/nginx.sh" stop "$build/nginx"
  "$root/scripts/wine-env.sh" down "$build/wine"
}
trap cleanup EXIT
"$root/scripts/wine-env.sh" up "$build/wine" >/dev/null || die "the Wine environment did not start (prefix $build/wine/prefix)"
eval "$("$root/scripts/wine-env.sh" env "$build/wine")"
[ -n "$own_display" ] && export DISPLAY=$own_display

drive_c="$WINEPREFIX/drive_c"
install="$drive_c/Program Files/Marrowtide"
console() { case "$LC_ALL" in ko_KR*) iconv -f CP949 -t UTF-8 ;; *) cat ;; esac; }
program_pids() { pgrep -f 'Marrowtide\\(Marrowtide|Tessvane|Quillmere|MarRtime)\.exe' 2>/dev/null | sort || true; }

echo "== the installed product: stand-in programs in $install, running"
mkdir -p "$install"
for p in Marrowtide.exe Tessvane.exe Quillmere.exe MarRtime.exe MarwDel.exe; do cp "$build/tests/standin.exe" "$install/$p"; done
for p in Marrowtide.exe Tessvane.exe Quillmere.exe MarRtime.exe; do
  setsid wine "C:\\Program Files\\Marrowtide\\$p" </dev/null >/dev/null 2>&1 &
done
for _ in $(seq 100); do
  [ "$(cat "$install"/{Marrowtide,Tessvane,Quillmere,MarRtime}.exe.log 2>/dev/null | grep -c started)" -ge 4 ] && break
  sleep 0.1
done

problems=()
# Says plainly that run N did not do what it should, and where to look.
not_as_expected() {
  local n=$1; shift
  problems+=("run $n: $*")
  echo "!! run $n did not do what it should: $*"
  echo "!! look at nginx's error log ($build/nginx/error.log) and the run's log ($install/BrinsoUpdator.log)"
  sed 's/^/!!   nginx: /' "$build/nginx/error.log" 2>/dev/null | tail -3 || true
}

# The release's listed files (their names in UTF-8) and where the updater places each (not the gzip copies
# and block maps the publishing tool puts beside some).
release_files() {
  (cd "$build/release" && find update/db marrowtide "$(cp949 엔진DB)" -maxdepth 1 -type f ! -name '*.ver' ! -name '*.gz' ! -name '*.blocks' -printf '%P\t%p\n') |
    while IFS=$'\t' read -r name path; do
      name=$(printf '%s' "$name" | iconv -f CP949 -t UTF-8)
      case "$name" in *.gdb) place=gdb/$name ;; *.adb) place=adb/$name ;; *) place=$name ;; esac
      printf '%s\t%s\n' "$place" "$path"
    done
}
cp949() { printf '%s' "$1" | iconv -f UTF-8 -t CP949; }

# Checks run N against what it should have done: every request answered 200 (206 for ranges), EXPECTED requests in all
# (the two version-info files and the files that were due), every listed file installed with the release's
# bytes, and a log whose run names no failure and sums the run up as up to date.
check_run() {
  local n=$1 expected=$2 requests=$3 log=$4 answers place path
  [ "$(grep -c . <<<"$requests" || true)" -eq "$expected" ] ||
    not_as_expected "$n" "$(grep -c . <<<"$requests" || true) requests to the update server, $expected expected"
  answers=$(awk '$9 != 200 && !($9 == 206 && $NF != "\"-\"") {print $7 " answered " $9}' <<<"$requests" | tr -d '"')
  [ -z "$answers" ] || not_as_expected "$n" "the update server answered $(echo $answers)"
  # Listed files, their maps and ranges by their by-hash names, which no cache can hold older bytes under.
  answers=$(awk '$7 !~ /\.ver$/ && $7 !~ /\/by-hash\/SHA256\/[0-9a-f]+(\.blocks)?$/ {print $7}' <<<"$requests")
  [ -z "$answers" ] || not_as_expected "$n" "listed files asked by their plain names: $(echo $answers)"
  while IFS=$'\t' read -r place path; do
    cmp -s "$install/$place" "$build/release/$path" || not_as_expected "$n" "$place is not the release's file"
  done < <(release_files)
  ! grep -q ' FAIL ' <<<"$log" || not_as_expected "$n" "its log names failures: $(grep ' FAIL ' <<<"$log" | cut -c25- | head -3)"
  local ended
  ended=$(grep ' run ended: ' <<<"$log" | tail -1 | cut -c25- || true)
  [ "$ended" = "info run ended: the product is up to date" ] ||
    not_as_expected "$n" "its log does not sum up the run as up to date: ${ended:-no summary at all}"
}

run() {  # run N EXPECTED-REQUESTS: one start of the updater, screenshots, what it changed, and whether it did what it should
  local n=$1 expected=$2 log_from monitor_before before after requests log
  echo
  echo "== run $n"
  log_from=$(wc -l < "$build/nginx/access.log")
  monitor_before=$(grep -c started "$install/MarRtime.exe.log" 2>/dev/null || echo 0)
  before=$(program_pids)
  wine "$exe" </dev/null >/dev/null 2>&1 &
  local app=$! start=$SECONDS shots=0
  while kill -0 $app 2>/dev/null && [ $((SECONDS - start)) -lt 120 ]; do
    sleep 0.7
    if [ -z "$own_display" ] && kill -0 $app 2>/dev/null; then
      shots=$((shots + 1))
      import -window root -crop 440x250+292+259 "png:$build/run$n-shot$shots.png" 2>/dev/null || true
    fi
  done
  kill -0 $app 2>/dev/null && not_as_expected "$n" "the dialog was still open after 120 s"
  wait $app || true
  echo "the updater ended after $((SECONDS - start)) s (its health check watches the monitor after the dialog closes); screenshots: $build/run$n-shot*.png ($shots)"
  after=$(program_pids)
  echo "-- product programs stopped: $(comm -23 <(echo "$before") <(echo "$after") | grep -c . || true) of $(echo "$before" | grep -c . || true) running before"
  echo "-- requests to the update server:"
  requests=$(tail -n +"$((log_from + 1))" "$build/nginx/access.log")
  awk '{print "   " $6, $7, $9, $10 " bytes"}' <<<"$requests" | tr -d '"'
  echo "-- files in the install folder (size, same bytes as the release?):"
  (cd "$install" && find . -type f ! -name '*.log' ! -path './BrinsoUpdator.*/*' | sort | while read -r f; do
     rel=$(release_files | awk -F'\t' -v f="${f#./}" '$1 == f {print $2}')
     same=$([ -n "$rel" ] && cmp -s "$f" "$build/release/$rel" && echo "placed from the release" || echo "installed before")
     printf '   %-28s %8d  %s\n' "${f#./}" "$(stat -c %s "$f")" "$same"
   done)
  echo "-- product key HKLM\\SOFTWARE\\Yelvan\\Marrowtide:"
  wine reg query 'HKLM\SOFTWARE\Yelvan\Marrowtide' 2>/dev/null | console | tr -d '\r' | grep -v '^$' | sed 's/^/ /' ||
    echo "   (no product key)"
  echo "-- release serials the updater accepted (HKLM\\SOFTWARE\\Yelvan\\Marrowtide\\Releases):"
  wine reg query 'HKLM\SOFTWARE\Yelvan\Marrowtide\Releases' 2>/dev/null | tr -d '\r' | grep REG_SZ | sed 's/^/ /' ||
    echo "   (none)"
  echo "-- monitor started as the dialog closed: $(( $(grep -c started "$install/MarRtime.exe.log" || true) - monitor_before )) time(s)"
  echo "-- registered by regsvr32: $(grep -c registered "$install/MarwShell.dll.log" 2>/dev/null || echo 0) time(s) in all (MarwShell.dll)"
  echo "-- the run's log (BrinsoUpdator.log in the install folder, this run's part):"
  log=$(tr -d '\r' < "$install/BrinsoUpdator.log" 2>/dev/null |
        awk '/ info ==== BrinsoUpdator /{n=0} {l[n++]=$0} END{for(i=0;i<n;i++) print l[i]}' || true)
  sed 's/^/   /' <<<"$log"
  check_run "$n" "$expected" "$requests" "$log"
}

run 1 $((2 + $(release_files | grep -c .)))
echo "-- shortcuts:"
wine "$build/tests/linktarget.exe" 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Marrowtide' \
  'C:\users\Public\Desktop' 2>/dev/null | sed 's/^/   /'
echo "-- uninstall entry:"
wine reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Marrowtide UnInstall' 2>/dev/null | console |
  tr -d '\r' | grep -v '^$' | sed 's/^/ /'
run 2 2
echo
echo "== the release changes: Tessvane.exe gets new bytes and the release is published again"
# A new file in its place, as a vendor replaces one (cp --remove-destination, rsync, mv): writing over the
# file itself would change the bytes of the by-hash name it shares them with.
{ cat "$build/release/marrowtide/Tessvane.exe"; printf 'new build'; } > "$build/release/Tessvane.exe.new"
mv "$build/release/Tessvane.exe.new" "$build/release/marrowtide/Tessvane.exe"
"$tool" publish "$build/release" "$build/release.description" --key "$key" | sed 's/^/   /'
signed
run 3 3
echo
echo "== the main database changes a little: two records added, and published again"
python3 - "$build/release/엔진DB/MarwMain.gdb" <<'PY'
import os, sys
path = sys.argv[1]
data = open(path, "rb").read()
third = data.index(b"\n", len(data) // 3) + 1
two_thirds = data.index(b"\n", 2 * len(data) // 3) + 1
data = data[:third] + b"Trojan.Win32.Banker.2026\t0f1e2d3c4b5a69788796a5b4c3d2e1f0\t7\n" + data[third:two_thirds] + \
    b"Worm.Win32.Net.2026\t00112233445566778899aabbccddeeff\t12\n" + data[two_thirds:]
open(path + ".new", "wb").write(data)  # a new file, moved over the old one (see above)
os.replace(path + ".new", path)
PY
"$tool" publish "$build/release" "$build/release.description" --key "$key" | sed 's/^/   /'
signed
run 4 4  # the two version-info files, MarwMain.gdb's block map, and one request for the ranges it lacks
echo
echo "== statistics reports received (one per start):"
tr -d '\r' < "$build/stats.log" | grep -E '^GET|^InstallInfo' | sed 's/^/   /'
echo
if [ ${#problems[@]} -gt 0 ]; then
  echo "The demo found ${#problems[@]} problem(s):"
  printf '  %s\n' "${problems[@]}"
  exit 1
fi
echo "Every run did what it should."
