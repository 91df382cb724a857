#!/usr/bin/env bash
# End-to-end: the sample release, published and signed with the test key "one" by the vendor's tool, served
# by nginx on the built-in update host for as long as the end-to-end test program runs (under Wine, in the
# test run's prefix).
#   run.sh BUILD_DIR WINE_ENV_DIR RELEASE_TOOL [TEST-PROGRAM ARGUMENTS...]
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
# What a release folder may also hold, which the reference server must never serve: a dotfile, a dotfolder,
# a link to a secret outside it.
outside=$e2e/outside
rm -rf "$outside" && mkdir -p "$outside" "$e2e/release/.git"
echo "not to be served" > "$outside/private.pem"
echo "[core]" > "$e2e/release/.git/config"
echo "vendor:secret" > "$e2e/release/.htpasswd"
ln -s "$outside/private.pem" "$e2e/release/update/db/leak.pem"
rm -f "$e2e/nginx/access.log"
"$root/scripts/nginx.sh" start "$e2e/nginx" 127.0.0.2 "$e2e/release"
trap '"$root/scripts/nginx.sh" stop "$e2e/nginx"' EXIT
# The reference server: the release and nothing else, only GET and HEAD, version-info files never cached.
answer() { curl --noproxy '*' -s -o /dev/null -D - "$@" | tr -d '\r'; }
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
answer http://127.0.0.2/marrowtide/Marrowtide.exe | grep -qi '^cache-control' && die "the reference server: a listed file marked not to be cached"
[ -f "$e2e/release/marrowtide/Marrowtide.exe.gz" ] || die "the tool wrote no gzip copy of marrowtide/Marrowtide.exe"
expect "a listed file with its gzip copy, asked with gzip" '^content-encoding: gzip' -H 'Accept-Encoding: gzip, deflate' \
  http://127.0.0.2/marrowtide/Marrowtide.exe
answer http://127.0.0.2/marrowtide/Marrowtide.exe | grep -qi '^content-encoding' &&
  die "the reference server: a gzip copy served to a client that did not ask for one"
: > "$e2e/nginx/access.log"  # the test program reads what the updater asked, and nothing else
"$root/scripts/wine-env.sh" exec "$wine_dir" "$build/tests/updater_e2e_tests.exe" "$@"
