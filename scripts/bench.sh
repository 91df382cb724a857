#!/usr/bin/env bash
# Benchmarks (figures, not tests), each measured in one run under Wine on loopback, against the floor
# that the program's own pauses set (4096 bytes then 10 ms per chunk; 500 ms after each of the four
# attempts to stop a product program; 10 ms after each file step):
#   1. DownloadFile of a 4 MiB file, its SHA-256 checked: wall time / pacing floor (1024 x 10 ms); CPU time /
#      wall time; curl
#   2. a no-op run (everything current), process start to exit / the mandated pauses (4 x 500 ms); what is
#      the program's own: that time less the pauses and less what an empty windowed program takes to start and
#      end under the same Wine (bench/empty_window.cpp, measured the same way); the median of five runs each
#   3. peak working set of a run downloading one 64 MiB file / that of a run downloading one 64 KiB file
#   4. the dialog's answer times to a message sent every 5 ms during the 64 MiB run: p50 and p99
#   5. paints of the current-file bar during a 1 MiB download / the fill widths it passed through
#   6. size of the Release BrinsoUpdator.exe, and the DLLs it needs beside it
#   7. a 20 MiB signature database (records of families, variants and digests: it compresses as real ones do)
#      with its gzip copy beside it (as publish writes it) against the same file without: bytes on the wire
#      (nginx's count) and wall time of DownloadFile, its SHA-256 checked
#   8. block updates: a 64 MiB file published by the tool (its block map beside it) with 1 %, 10 % and 50 %
#      of it changed (64 KiB stretches spread over it, off its block boundaries, and 1000 bytes inserted,
#      500 removed), the older copy installed: whole runs, bytes on the wire (nginx's count, the map
#      included) and wall time against the whole-file run of figure 3, peak working set against its 64 KiB
#      run; and a 4 MiB file with one stretch changed, whose peak shows whether memory grows with the file
#   9. the updater's search of a 100 MB installed copy for the blocks of its 1 % changed successor (CNG's
#      SHA-256, as a run does it): CPU and wall time, peak working set; the tool's map of that 100 MB file
#      (OpenSSL's SHA-256), natively: wall time and peak resident memory
#  10. the vendor's log of 2^20 entries (bench/log_bench.cpp): the tiles the updater reads for one file's
#      check (the consistency proof from the checkpoint it kept, the file's inclusion proof) and its CPU time
#      for them, with CNG's SHA-256
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib.sh"
trap_failures
build=${BUILD_DIR:-$root/build}/bench
address=127.0.0.41
"$root/scripts/bootstrap.sh"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$(windows_target).cmake" -DCMAKE_BUILD_TYPE=Release \
  -DUPDATER_TESTS=ON -DUPDATER_SERVER_HOST=$address -DUPDATER_STATS_HOST=127.0.0.42 >/dev/null
cmake --build "$build" -j "$(nproc)" --target BrinsoUpdator download_bench run_bench empty_window log_bench standin regprobe >/dev/null

release="$build/release"
rm -rf "$release"
tool=$(build_release_tool "$build-tool")
cmake --build "$build-tool" --target map_bench >/dev/null
"$root/scripts/make-release.sh" "$release" "$address" "$build/tests/standin.exe" "$build/tests/regprobe.dll" "$tool"
head -c $((4 * 1024 * 1024)) /dev/urandom > "$release/update/db/bench4m.bin"
head -c $((1024 * 1024)) /dev/urandom > "$release/update/db/bench1m.bin"
python3 - "$release/update/db/db20m.gdb" <<'PY'
import sys, hashlib, random
rnd, out = random.Random(20), []
families = ["Trojan.Win32.%s" % w for w in ("Agent", "Dropper", "Banker", "Generic", "Injector", "Downloader")] + \
           ["Worm.Win32.%s" % w for w in ("AutoRun", "Net", "Mail")] + ["Adware.%s" % w for w in ("Bundler", "Popup")]
size = 0
while size < 20 * 1024 * 1024:
    n = rnd.randrange(1 << 20)
    line = "%s.%s\t%s\t%d\n" % (rnd.choice(families), n % 977, hashlib.md5(str(n % 50021).encode()).hexdigest(), n % 4096)
    out.append(line)
    size += len(line)
open(sys.argv[1], "w").write("".join(out)[:20 * 1024 * 1024])
PY
cp "$release/update/db/db20m.gdb" "$release/update/db/db20m-plain.gdb"
gzip -9 -n -c "$release/update/db/db20m.gdb" > "$release/update/db/db20m.gdb.gz"
rm -f "$build/nginx/access.log"
"$root/scripts/nginx.sh" start "$build/nginx" "$address" "$release"
"$root/scripts/wine-env.sh" up "$build/wine" >/dev/null
cleanup() { "$root/scripts/wine-env.sh" down "$build/wine"; "$root/scripts/nginx.sh" stop "$build/nginx"; }
trap cleanup EXIT
eval "$("$root/scripts/wine-env.sh" env "$build/wine")"
field() { sed -n "s/.*$1=\\([0-9.]*\\).*/\\1/p" <<<"$2"; }
bench() { wine "$build/bench/$1" "${@:2}" </dev/null 2>/dev/null | tr -d '\r'; }

# With the file's SHA-256 checked as it arrives, as every entry of a signed release is.
digest="sha256:$(sha256sum "$release/update/db/bench4m.bin" | cut -c1-64)"
out=$(bench download_bench.exe "$address" /update/db/bench4m.bin 'C:\windows\temp\bench.bin' "$digest")
[ "$(field result "$out")" = 1 ] || { echo "the download with its digest failed: $out"; exit 1; }
cmp -s "$release/update/db/bench4m.bin" "$WINEPREFIX/drive_c/windows/temp/bench.bin" || { echo "downloaded bytes differ"; exit 1; }
wall=$(field wall "$out") cpu=$(field cpu "$out")
curl_wall=$(curl -s -o /dev/null -w '%{time_total}' "http://$address/update/db/bench4m.bin")
paints=$(bench download_bench.exe --paints "$address" /update/db/bench1m.bin 'C:\windows\temp\bench1m.bin')

# The same 20 MiB with and without its gzip copy on the server.
db_digest="sha256:$(sha256sum "$release/update/db/db20m.gdb" | cut -c1-64)"
wire() { awk -v t="$1" '$7 == t {b = $10} END {print b + 0}' "$build/nginx/access.log"; }
gz_out=$(bench download_bench.exe "$address" /update/db/db20m.gdb 'C:\windows\temp\db20m.gdb' "$db_digest")
plain_out=$(bench download_bench.exe "$address" /update/db/db20m-plain.gdb 'C:\windows\temp\db20m-plain.gdb' "$db_digest")
[ "$(field result "$gz_out")" = 1 ] && [ "$(field result "$plain_out")" = 1 ] ||
  { echo "a 20 MiB download failed: $gz_out / $plain_out"; exit 1; }
cmp -s "$release/update/db/db20m.gdb" "$WINEPREFIX/drive_c/windows/temp/db20m.gdb" || { echo "decoded bytes differ"; exit 1; }
gz_wire=$(wire /update/db/db20m.gdb) plain_wire=$(wire /update/db/db20m-plain.gdb)

bench run_bench.exe "$build/src/BrinsoUpdator.exe" >/dev/null  # the first run installs the release
median_wall() {  # median_wall PROGRAM: the median wall time of five measured runs
  for _ in 1 2 3 4 5; do field wall "$(bench run_bench.exe "$1")"; done | sort -n | sed -n 3p
}
noop_wall=$(median_wall "$build/src/BrinsoUpdator.exe")
empty_wall=$(median_wall "$build/bench/empty_window.exe")

# One database file listed alone: 64 KiB, then 64 MiB (a new name each, so it is due).
one_file_run() {
  head -c "$2" /dev/urandom > "$release/update/db/$1"
  printf 'SUBDIR=update/db/\r\n%s=%s,0,0,0\r\n' "$1" "$(md5sum "$release/update/db/$1" | cut -c1-8)" > "$release/update/db/DBUpdate.ver"
  bench run_bench.exe "$build/src/BrinsoUpdator.exe"
}
small=$(one_file_run small.gdb $((64 * 1024)))
big=$(one_file_run big.gdb $((64 * 1024 * 1024)))

# A copy of OLD with PERCENT % changed: 64 KiB stretches spread evenly, each 12345 bytes past a multiple of
# their spacing, then 1000 bytes inserted at a third and 500 removed at two thirds.
changed_copy() { python3 - "$@" <<'PY'
import sys, random
old, new, percent = sys.argv[1], sys.argv[2], int(sys.argv[3])
data, rnd, stretch = bytearray(open(old, "rb").read()), random.Random(percent), 64 * 1024
count = max(1, len(data) * percent // 100 // stretch)
for i in range(count):
    at = i * (len(data) // count) + 12345
    data[at:at + stretch] = rnd.randbytes(stretch)
data[len(data) // 3:len(data) // 3] = rnd.randbytes(1000)
del data[2 * len(data) // 3:2 * len(data) // 3 + 500]
open(new, "wb").write(data)
PY
}
install="$WINEPREFIX/drive_c/Program Files/Marrowtide"
[ -d "$install" ] || { echo "no install folder at $install"; exit 1; }
head -c $((64 * 1024 * 1024)) /dev/urandom > "$build/delta-old-64.dat"
head -c $((4 * 1024 * 1024)) "$build/delta-old-64.dat" > "$build/delta-old-4.dat"
printf '[update/db/DBUpdate.ver]\nsubdir=update/db/\ndelta.dat\n' > "$build/delta.description"
rm -f "$release/update/db/DBUpdate.ver"  # written by hand above: no serial for publish to follow
delta=()
for run in "64 1" "64 10" "64 50" "4 1"; do
  read -r mib percent <<<"$run"
  changed_copy "$build/delta-old-$mib.dat" "$release/update/db/delta.dat" "$percent"
  "$tool" publish "$release" "$build/delta.description" --unsigned >/dev/null
  cp "$build/delta-old-$mib.dat" "$install/delta.dat"
  : > "$build/nginx/access.log"
  out=$(bench run_bench.exe "$build/src/BrinsoUpdator.exe")
  cmp -s "$release/update/db/delta.dat" "$install/delta.dat" || { echo "the $run block run did not place the file"; exit 1; }
  grep -a -q "delta.dat came by blocks" "$install/BrinsoUpdator.log" || { echo "the $run block run did not come by blocks"; exit 1; }
  bytes=$(awk '$7 ~ "^/update/db/+delta\\.dat" {b += $10} END {print b + 0}' "$build/nginx/access.log")
  delta+=("$mib $percent $(field wall "$out") $bytes $(field peak_ws "$out") $(stat -c %s "$install/delta.dat")")
done

# The updater's search, and the tool's map, for 100 MB.
head -c 100000000 /dev/urandom > "$build/match-old.dat"
changed_copy "$build/match-old.dat" "$build/match-new.dat" 1
map_out=$("$build-tool/bench/map_bench" "$build/match-new.dat" "$build/match-new.blocks")
unix_to_z() { printf 'Z:%s' "${1//\//\\}"; }
match_out=$(bench download_bench.exe --match "$(unix_to_z "$build/match-old.dat")" "$(unix_to_z "$build/match-new.blocks")")
[ "$(field result "$map_out")" = 1 ] && [ "$(field result "$match_out")" = 1 ] || { echo "the 100 MB map or match failed: $map_out / $match_out"; exit 1; }

log_out=$(bench log_bench.exe)
grep -q PROOF-FAILED <<<"$log_out" && { echo "a proof of the log benchmark failed: $log_out"; exit 1; }

exe="$build/src/BrinsoUpdator.exe"
system_dlls='^(ADVAPI32|COMCTL32|GDI32|KERNEL32|msvcrt|SHELL32|SHLWAPI|USER32|ole32|OLEAUT32|WININET|netapi32|WS2_32)\.dll$'
others=$("$(windows_target)-objdump" -p "$exe" | awk '/DLL Name/ {print $3}' | grep -viE "$system_dlls" || true)

{
echo "machine: $(nproc) cores, $(uname -m), $(LC_ALL=C free -g | awk '/Mem:/ {print $2}') GiB, $(wine --version), $(date -u +%Y-%m-%d), the program built for $(windows_target)"
awk -v w="$wall" -v c="$cpu" -v cw="$curl_wall" -v nw="$noop_wall" -v ew="$empty_wall" \
    -v sp="$(field peak_ws "$small")" -v bp="$(field peak_ws "$big")" \
    -v p50="$(field p50 "$big")" -v p99="$(field p99 "$big")" -v probes="$(field probes "$big")" \
    -v widths="$(field widths "$paints")" -v pn="$(field paints "$paints")" \
    -v size="$(stat -c %s "$exe")" -v others="${others:-none}" \
    -v gw="$gz_wire" -v pw="$plain_wire" -v gt="$(field wall "$gz_out")" -v pt="$(field wall "$plain_out")" 'BEGIN {
  printf "1. download 4 MiB, SHA-256 checked: wall %.3f s / floor 10.240 s = %.3f (goal <= 1.03); cpu/wall %.1f %% (goal <= 5 %%); curl %.3f s\n", w, w / 10.24, 100 * c / w, cw
  printf "2. no-op run: %.3f s / 2.000 s of pauses = %.3f (goal <= 1.15); the program'"'"'s own %.3f s (goal < 0.100 s) beside an empty windowed program'"'"'s %.3f s\n", nw, nw / 2.0, nw - 2.0 - (ew - 0.1), ew - 0.1
  printf "3. peak working set: 64 MiB run %.1f MiB / 64 KiB run %.1f MiB = %.3f (goal <= 1.05)\n", bp / 1048576, sp / 1048576, bp / sp
  printf "4. dialog answer time during the 64 MiB download (%d probes): p50 %.2f ms, p99 %.2f ms (goal p99 <= 30 ms)\n", probes, p50, p99
  printf "5. paints of the file bar in a 1 MiB download: %d / %d fill widths = %.2f (goal 1.00)\n", pn, widths, pn / widths
  printf "6. BrinsoUpdator.exe: %d bytes = %.2f MiB (goal <= 1 MiB); DLLs needed beside it: %s (goal none)\n", size, size / 1048576, others
  printf "7. a 20 MiB signature database: with its gzip copy %.2f MiB on the wire in %.1f s, without %.2f MiB in %.1f s: %.1f times fewer bytes, %.1f times faster\n", gw / 1048576, gt, pw / 1048576, pt, pw / gw, pt / gt
}'
for d in "${delta[@]}"; do
  read -r mib percent wall bytes peak size <<<"$d"
  awk -v m="$mib" -v p="$percent" -v w="$wall" -v b="$bytes" -v pk="$peak" -v size="$size" -v ww="$(field wall "$big")" \
      -v sp="$(field peak_ws "$small")" 'BEGIN {
    printf "8. block update of a %d MiB file, %d %% changed: %.2f MiB on the wire (%.1f %% of the file, map included) in %.1f s", m, p, b / 1048576, 100 * b / size, w
    if (m == 64) printf ", the whole file %.1f s: %.1f times faster", ww, ww / w
    printf "; peak working set %.1f MiB (%.3f of the 64 KiB run'"'"'s)\n", pk / 1048576, pk / sp
  }'
done
awk -v mc="$(field cpu "$match_out")" -v mw="$(field wall "$match_out")" -v mp="$(field peak_ws "$match_out")" \
    -v blocks="$(field blocks "$match_out")" -v found="$(field found "$match_out")" \
    -v tw="$(field wall "$map_out")" -v tr="$(field peak_rss "$map_out")" 'BEGIN {
  printf "9. 100 MB: the updater finds %d of the %d blocks of its 1 %% changed successor in its installed copy in %.2f s of CPU (goal < 2 s), %.2f s wall, peak working set %.1f MiB; the tool maps it in %.2f s (goal < 2 s), peak resident %.1f MiB with the file read whole\n", found, blocks, mc, mw, mp / 1048576, tw, tr / 1048576
}'
while read -r name tiles bytes cpu; do
  awk -v n="${name//_/ }" -v t="${tiles#tiles=}" -v b="${bytes#bytes=}" -v c="${cpu#cpu_us=}" 'BEGIN {
    printf "10. a log of 2^20 entries, %s: %d tiles, %.1f KiB for the consistency and the inclusion proof (goal < 64 KiB; the checkpoint adds 0.3 KiB), %.2f ms of CPU (goal < 5 ms)\n", n, t, b / 1024, c / 1000
  }'
done <<<"$log_out"
} | tee "$build/figures.txt"
{
  echo "# Benchmark figures"
  echo
  echo "Written by \`scripts/bench.sh\` (each figure measured in one run under Wine on loopback)."
  echo
  sed 's/^/    /' "$build/figures.txt"
} > "$root/docs/benchmarks.md"
