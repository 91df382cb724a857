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
rm -f "$e2e/nginx/access.log"
"$root/scripts/nginx.sh" start "$e2e/nginx" 127.0.0.2 "$e2e/release"
trap '"$root/scripts/nginx.sh" stop "$e2e/nginx"' EXIT
"$root/scripts/wine-env.sh" exec "$wine_dir" "$build/tests/updater_e2e_tests.exe" "$@"
