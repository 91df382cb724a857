#!/usr/bin/env bash
# End-to-end: the sample release, published and signed with the test key "one" by the vendor's tool, served
# by nginx on the built-in update host for as long as the end-to-end test program runs (under Wine, in the
# test run's prefix).
#   run.sh BUILD_DIR WINE_ENV_DIR RELEASE_TOOL [TEST-PROGRAM ARGUMENTS...]
# E2E_TIER puts what customers and vendors really have between them: "cache", the reference server on
# 127.0.0.6 behind a caching nginx on the update host (server/nginx-cache.conf.in, a CDN's stand-in);
# "proxy", the reference server on 127.0.0.6 reachable only through squid on 127.0.0.5:3129 (the proxy the
# test program sets in Windows' Internet settings), nothing on the update host's own address.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib.sh"
trap_failures
build=$1 wine_dir=$2 tool=$3 e2e=$1/e2e
shift 3
[ -x "$tool" ] || { echo "run.sh: no publishing tool at '$tool' (configure with -DUPDATER_RELEASE_TOOL=...)" >&2; exit 1; }
rm -rf "$e2e/release"
"$root/scripts/make-release.sh" "$e2e/release" 127.0.0.2 "$build/tests/standin.exe" "$build/tests/regprobe.dll" \
  "$tool" "$build/test-keys/one.pem"
"$tool" verify "$e2e/release" --key "$build/test-keys/one.pub" >/dev/null
# The release's log, audited by the vendor and cosigned by a witness (the test key "unknown"), as the
# updater built with the log (BrinsoUpdatorLogged) needs it.
"$tool" audit "$e2e/release" --key "$build/test-keys/one.pub" >/dev/null
rm -f "$e2e/witness-state"
"$tool" witness "$e2e/release" --key "$build/test-keys/unknown.pem" --name witness.example/e2e \
  --log-key "$build/test-keys/one.pub" --state "$e2e/witness-state" >/dev/null
# Through the caching tier, a second release follows the first: the main database changes a little (it
# has a gzip copy and a block map) and so does a program, each replaced by a new file as a vendor does, and
# publish runs again over a copy of the first (which keeps its by-hash names, one inode with the files).
rm -rf "$e2e/release2" "$e2e/release-first"
if [ "${E2E_TIER:-}" = cache ]; then
  cp -a "$e2e/release" "$e2e/release2"
  main="$e2e/release2/$(printf '엔진DB' | iconv -f UTF-8 -t CP949)/MarwMain.gdb"
  { head -c 700000 "$main"; printf 'Trojan.Win32.Banker.2026\t0f1e2d3c4b5a69788796a5b4c3d2e1f0\t7\n'; tail -c +700001 "$main"; } > "$main.new"
  mv "$main.new" "$main"
  { cat "$e2e/release2/marrowtide/Tessvane.exe"; printf 'second release'; } > "$e2e/release2/Tessvane.exe.new"
  mv "$e2e/release2/Tessvane.exe.new" "$e2e/release2/marrowtide/Tessvane.exe"
  "$tool" publish "$e2e/release2" "$e2e/release.description" --key "$build/test-keys/one.pem" >/dev/null
  "$tool" verify "$e2e/release2" --key "$build/test-keys/one.pub" --previous "$e2e/release" >/dev/null
fi
# What a release folder may also hold, which the reference server must never serve: a dotfile, a dotfolder,
# a link to a secret outside it.
outside=$e2e/outside
rm -rf "$outside" && mkdir -p "$outside" "$e2e/release/.git"
echo "not to be served" > "$outside/private.pem"
echo "[core]" > "$e2e/release/.git/config"
echo "vendor:secret" > "$e2e/release/.htpasswd"
ln -s "$outside/private.pem" "$e2e/release/update/db/leak.pem"
tier=${E2E_TIER:-}
origin=127.0.0.2 via=(--noproxy '*')
[ -z "$tier" ] || origin=127.0.0.6
squid_pid= state=
stop_servers() {
  [ -z "$squid_pid" ] || { kill "$squid_pid" 2>/dev/null; wait "$squid_pid" 2>/dev/null || true; }
  [ -z "$state" ] || rm -rf "$state"
  "$root/scripts/nginx.sh" stop "$e2e/cache"
  "$root/scripts/nginx.sh" stop "$e2e/nginx"
}
trap stop_servers EXIT
rm -f "$e2e/nginx/access.log"
"$root/scripts/nginx.sh" start "$e2e/nginx" $origin "$e2e/release"
case "$tier" in
  "") ;;
  cache) "$root/scripts/nginx.sh" cache "$e2e/cache" 127.0.0.2 $origin ;;
  proxy)
    # squid gives up root for its own user: its state goes where that user may write.
    state=$(mktemp -d /tmp/e2e-squid.XXXXXX)
    [ "$(id -u)" != 0 ] || chown proxy: "$state"
    sed -e "s|@LISTEN@|127.0.0.5:3129|; s|@ORIGIN@|$origin|; s|@STATS@|127.0.0.3|; s|@STATE@|$state|" \
      "$root/tests/e2e/squid.conf.in" > "$state/squid.conf"
    squid -N -f "$state/squid.conf" </dev/null >"$state/start.log" 2>&1 &
    squid_pid=$!
    for _ in $(seq 100); do curl -s -o /dev/null -x http://127.0.0.5:3129 http://127.0.0.2/ && break; sleep 0.1; done
    kill -0 "$squid_pid" 2>/dev/null || die "squid did not start: $(tail -3 "$state/start.log" "$state/cache.log" 2>/dev/null)"
    export E2E_PROXY_LOG=$state/access.log
    via=(-x http://127.0.0.5:3129)
    ;;
  *) die "unknown E2E_TIER '$tier' (cache or proxy)" ;;
esac
# The reference server: the release and nothing else, only GET and HEAD, version-info files never cached;
# as the updater sees it, through whatever stands between.
answer() { curl "${via[@]}" -s -o /dev/null -D - "$@" | tr -d '\r'; }
expect() {  # expect WHAT PATTERN CURL-ARGUMENTS...
  local what=$1 pattern=$2; shift 2
  answer "$@" | grep -qiE "$pattern" || die "the reference server: $what (expected $pattern): $(answer "$@" | head -1)"
}
expect "a dotfolder's file" '^HTTP/1.1 404' http://127.0.0.2/.git/config
expect "a dotfile" '^HTTP/1.1 404' http://127.0.0.2/.htpasswd
expect "a link out of the release" '^HTTP/1.1 404' http://127.0.0.2/update/db/leak.pem
expect "a POST" '^HTTP/1.1 405' -X POST http://127.0.0.2/update/db/DBUpdate.ver
expect "the DB version-info file" '^cache-control: no-cache' http://127.0.0.2/update/db/DBUpdate.ver
expect "the program version-info file" '^cache-control: no-cache' http://127.0.0.2/marrowtide/MarrowtideWeb.ver
expect "a listed file's plain name" '^cache-control: no-cache' http://127.0.0.2/marrowtide/Marrowtide.exe
exe_hash=$(sha256sum "$e2e/release/marrowtide/Marrowtide.exe" | cut -c1-64)
expect "a listed file's by-hash name" '^cache-control: public, max-age=31536000, immutable' \
  "http://127.0.0.2/marrowtide/by-hash/SHA256/$exe_hash"
answer "http://127.0.0.2/marrowtide/by-hash/SHA256/$(printf '%064d' 0)" | grep -qi '^cache-control' &&
  die "the reference server: a by-hash name it does not have marked to be kept"
[ -f "$e2e/release/marrowtide/Marrowtide.exe.gz" ] || die "the tool wrote no gzip copy of marrowtide/Marrowtide.exe"
expect "a listed file with its gzip copy, asked with gzip" '^content-encoding: gzip' -H 'Accept-Encoding: gzip, deflate' \
  http://127.0.0.2/marrowtide/Marrowtide.exe
answer http://127.0.0.2/marrowtide/Marrowtide.exe | grep -qi '^content-encoding' &&
  die "the reference server: a gzip copy served to a client that did not ask for one"
: > "$e2e/nginx/access.log"  # the test program reads what the updater asked, and nothing else
"$root/scripts/wine-env.sh" exec "$wine_dir" "$build/tests/updater_e2e_tests.exe" "$@"
