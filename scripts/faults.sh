#!/usr/bin/env bash
# Runs the fault matrix (whole runs of the real program under faults) and writes docs/faults.md: each case
# with its verdict on the invariants below. As root: some faults are mounts, one case runs in a network
# namespace of its own. About five minutes, two and a half of them the 50 MB download.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib.sh"
trap_failures
build=${BUILD_DIR:-$root/build}/win
"$root/scripts/bootstrap.sh"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$(windows_target).cmake" -DCMAKE_BUILD_TYPE=Release \
  -DUPDATER_SERVER_HOST=127.0.0.2 -DUPDATER_STATS_HOST=127.0.0.3 -DUPDATER_HEALTH_WINDOW_S=2 -DUPDATER_SLOW_SERVER_S=15 >/dev/null
cmake --build "$build" -j "$(nproc)" --target updater_dialog_tests updater_offline_tests BrinsoUpdator standin >/dev/null
env_dir=$build/faults-wine
"$root/scripts/wine-env.sh" up "$env_dir" >/dev/null
trap '"$root/scripts/wine-env.sh" down "$env_dir"' EXIT
# The test programs' whole output is kept beside the table, for a case that fails.
log=$build/faults.log
: > "$log"
run() { "$@" 2>>"$log" | tr -d '\r' | tee -a "$log" || true; }
out=$(run "$root/scripts/wine-env.sh" exec "$env_dir" "$build/tests/updater_dialog_tests.exe" --gtest_filter='FaultTest.*')
out+=$'\n'$(WINE_LOCALE=C.UTF-8 EXPECT_ACP=1252 run "$root/scripts/wine-env.sh" exec "$env_dir" \
  "$build/tests/updater_dialog_tests.exe" --gtest_filter='FaultTest.KoreanNames')
out+=$'\n'$(run "$root/tests/win/tools/offline.sh" "$root/scripts/wine-env.sh" exec "$env_dir" \
  "$build/tests/updater_offline_tests.exe" --gtest_filter='FaultTest.*')
# Every group the test programs hold, so that a group that never started shows in the table too.
groups=$( { run "$root/scripts/wine-env.sh" exec "$env_dir" "$build/tests/updater_dialog_tests.exe" --gtest_list_tests \
              --gtest_filter='FaultTest.*'
            run "$root/scripts/wine-env.sh" exec "$env_dir" "$build/tests/updater_offline_tests.exe" --gtest_list_tests \
              --gtest_filter='FaultTest.*'; } | awk '/^  /{print $1}')
# One row per case a group planned: its verdict, or FAILED when it never reported (the group stopped early);
# one FAILED row per group that planned nothing.
table=$(awk -F'\t' -v groups="$groups" '
  $1 == "PLAN" { key = $2 "\t" $3; if (!(key in planned)) { planned[key] = 1; order[++n] = key }; seen[$2] = 1 }
  $1 == "CASE" { key = $2 "\t" $3; verdict[key] = (key in verdict && verdict[key] == "FAILED") ? "FAILED" : $4
                 before = (key in logged) ? logged[key] " // " : ""; logged[key] = before $5
                 if (!(key in planned)) { planned[key] = 1; order[++n] = key }; seen[$2] = 1 }
  END {
    for (i = 1; i <= n; i++) { split(order[i], p, "\t"); v = (order[i] in verdict) ? verdict[order[i]] : "FAILED (did not run)"
                               l = (order[i] in logged) ? logged[order[i]] : "-"; gsub(/\|/, "\\|", l)
                               printf "| %s | %s | %s | %s |\n", p[1], p[2], v, l }
    split(groups, g, "\n"); for (i in g) if (g[i] != "" && !(g[i] in seen)) printf "| %s | (the group did not run) | FAILED | - |\n", g[i]
  }' <<<"$out")
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
  echo "- nothing left in the Windows temp folder: the run's own download folder is gone with everything in it;"
  echo "- \"Update_Flag\" = \"YES\" (except where the product key refuses every write);"
  echo "- the process ended within 1 s of a stop, and no process of ours is left running."
  echo
  echo "Some cases show more:"
  echo
  echo "- stops: during placement, no version recorded and the last file not placed; during registration,"
  echo "  every file placed and no version recorded; during recording, the last version not recorded;"
  echo "- hostile names: each listed beside a.dll in a run of its own, against a server that answers every"
  echo "  request with content: the name is never asked for, placed or recorded, and a.dll is still updated;"
  echo "- local faults: a read-only temp folder (a read-only bind mount), a file held open, a read-only install"
  echo "  folder and a full disk (a tmpfs of 28 KiB) keep the installed a.dll and its version 1, with no partial"
  echo "  copy left beside it;"
  echo "- \"InstallPath\" missing, empty, naming no folder or too long before the run: the dialog's start records"
  echo "  the install folder again and the run updates it; where a file stands in its place, the run puts"
  echo "  everything into the fallback folder Program Files\\\\Yelvan\\\\Marrowtide and leaves that file alone"
  echo "  (how the worker itself meets such values is shown in-process: PassTest in tests/win/pass_test.cpp);"
  echo "- a host name that does not resolve runs in a network namespace with only loopback (tests/win/tools/"
  echo "  offline.sh): nothing of the lookup leaves the machine; the files of that site keep version 1;"
  echo "- the 50 MB file is placed whole, byte for byte, and recorded;"
  echo "- server faults: only a whole \"200 OK\" body is placed (cut or corrupt gzip and deflate, 204, 206, raw bytes,"
  echo "  a 64-bit Content-Length, unknown encodings keep the installed a.dll and its version 1);"
  echo "- hostile servers: redirect loops, a server silent after the headers, oversized version-info files (also"
  echo "  as a small gzip answer), 3000 entries and a statistics server that never answers: each run ends by itself"
  echo "  within the platform's time-out and a few seconds, and the closing dialog starts the monitor;"
  echo "- Korean names: the request targets carry the names' code page 949 bytes, percent-encoded, under code"
  echo "  page 949 and again under code page 1252;"
  echo "- signed releases: runs of the program built with two release keys; whatever fails a check (a changed"
  echo "  byte, an unknown key, no or a misplaced signature line, a rollback, two serials, a missing or malformed"
  echo "  digest, a cut file) is unreadable and nothing of it is fetched; a file that fails its digest is not placed;"
  echo "  without keys, digests are still checked, which also refuses a chunked body cut before its last chunk."
  echo
  echo "Every run also writes its log (BrinsoUpdator.log in the install folder). The last column is what it"
  echo "names as failed (its FAIL lines, in order; \"-\" for none), and each case checks that the log starts the"
  echo "run with the program's line, never sums up a failure before the failure that caused it, and, where the"
  echo "case is about a failure, names that cause. A read-only install folder keeps no log."
  echo
  echo "| group | case | result | failures the run's log names |"
  echo "|---|---|---|---|"
  sed 's/\\/\\\\/g' <<<"$table"  # a backslash shown as such in Markdown
} > "$root/docs/faults.md"
echo "$(grep -c '| ok |' <<<"$table") of $(grep -c '^|' <<<"$table") cases hold every invariant"
if grep -q 'FAILED' <<<"$table"; then echo "what the failed cases said: $log"; exit 1; fi
